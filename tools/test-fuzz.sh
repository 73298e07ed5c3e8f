#!/bin/sh
# Builds the libFuzzer targets and fuzzes each for a bounded time, starting from its committed
# corpus. Fails on any finding; the input that caused it is copied into the corpus as a
# regression file (fuzz/corpus/<target>/regress-*), to be committed with the fix.
# FUZZ_SECONDS sets the time per target (default 55).
set -eu
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-55}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2

work=$(mktemp -d "${TMPDIR:-/tmp}/kestran-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
summary=""
for target in control_scan cue_sheet shift_job dat accuraterip; do
    mkdir -p "$work/$target/corpus" "$work/$target/found"
    log="$work/$target/log"
    echo "fuzz: $target for ${seconds}s"
    if build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
        -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$work/$target/found/" \
        "$work/$target/corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
        result=passed
    else
        result=FAILED
        status=1
        tail -n 40 "$log"
    fi
    findings=0
    for found in "$work/$target/found"/*; do
        [ -e "$found" ] || continue
        findings=$((findings + 1))
        copy="fuzz/corpus/$target/regress-$(basename "$found")"
        cp "$found" "$copy"
        echo "fuzz: $target: finding kept as $copy"
    done
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    line="$target: ${executions:-?} executions (${rate:-?}/s), coverage ${coverage:-?}, findings $findings, $result"
    echo "fuzz: $line"
    summary="$summary
  $line"
done
echo "test-fuzz:$summary"
exit $status
