#!/usr/bin/env bash
# Times `kestran --dat FILE.dat -n` finding the shift of a 705.6 MB mixed-mode image (500 MB of
# data, then 205 MB of audio in five tracks) dumped 30 samples off, over the full -2348..2348
# range, against `sha1sum` of the same image, interleaved, warm cache; times the load of a
# 10,000-entry DAT of about 10 MB; then lets kestran apply the shift and compares the result
# with the known-good image byte for byte.
#
# Usage: bench/dat.sh [--keep] [--reps N] [SCRATCH_DIR]
#   SCRATCH_DIR  where the images go (default build/bench-scratch); the script works in a
#                fresh folder inside it and removes that folder at the end
#   --keep       keep that folder and its images
#   --reps N     timed repetitions of each command (default 7, at least 5)
# Needs the default build: cmake --preset default && cmake --build --preset default
# Exit status: 0 all checks and targets met, 1 otherwise, 2 usage or setup error.
set -euo pipefail

readonly TARGET=1.5          # kestran --dat -n / sha1sum, at most
readonly LOAD_TARGET=0.5     # seconds to load the 10,000-entry DAT, at most
readonly DUMP_SHIFT=30       # the dump's audio lies this many samples late: kestran must find -30
readonly SECTOR_SIZE=2352
readonly DATA=212500 TRACKS=5 TRACK_LENGTH=17470 PREGAP=150

root=$(cd "$(dirname "$0")/.." && pwd)
dat_load=$root/build/default/bench/dat-load
tools=("$dat_load")
source "$root/bench/common.sh"
make_work 2

echo "scratch: $work"
echo "making the known-good disc, its DATs and the dump..."
make_truth_disc
python3 "$root/bench/make_dat.py" "$work/truth.img" "Bench Disc (Europe)" "$starts" \
    "$work/one.dat"
python3 "$root/bench/make_dat.py" "$work/truth.img" "Bench Disc (Europe)" "$starts" \
    "$work/full.dat" --decoys 9999
cp "$work/truth.ccd" "$work/dump.ccd"
cp "$work/truth.img" "$work/dump.img"
"$kestran" -q -o $DUMP_SHIFT "$work/dump.ccd"
rm "$work/dump.old"
total=$(($(stat -c %s "$work/truth.img") / SECTOR_SIZE))
"$verify" "$work/truth.img" "$work/dump.img" $DUMP_SHIFT $DATA:$total ||
    fail "the dump is not the known-good image shifted by $DUMP_SHIFT"
size_bytes=$(stat -c %s "$work/dump.img")
echo "image: $size_bytes bytes; full DAT: $(stat -c %s "$work/full.dat") bytes"
cat "$work/dump.img" >/dev/null # warm cache

# What kestran finds, said once in full.
"$kestran" --dat "$work/one.dat" -n "$work/dump.ccd" >"$work/report.txt" ||
    fail "kestran --dat -n exited with $?"
cat "$work/report.txt"
grep -q "shift -$DUMP_SHIFT: the audio moves $DUMP_SHIFT samples toward the start" \
    "$work/report.txt" || fail "kestran did not find -$DUMP_SHIFT"

echo "timing $reps repetitions, interleaved..."
for ((r = 0; r < reps; r++)); do
    if ((r % 2 == 0)); then
        timed kestran "$kestran" --dat "$work/one.dat" -n -q "$work/dump.ccd"
        timed sha1sum --stdout /dev/null sha1sum "$work/dump.img"
    else
        timed sha1sum --stdout /dev/null sha1sum "$work/dump.img"
        timed kestran "$kestran" --dat "$work/one.dat" -n -q "$work/dump.ccd"
    fi
    timed kestran-full "$kestran" --dat "$work/full.dat" -n -q "$work/dump.ccd"
    "$dat_load" "$work/full.dat" | cut -d' ' -f1 >>"$work/times.load"
done

printf '\n%-34s %9s %15s %9s\n' "command ($reps runs)" "median s" "min-max s" "MB/s"
for label in kestran kestran-full sha1sum; do
    m=$(median "$work/times.$label")
    awk -v label="$label" -v m="$m" -v s="$(spread "$work/times.$label")" -v bytes="$size_bytes" \
        'BEGIN { printf "%-34s %9.3f %15s %9.0f\n", label, m, s, bytes / m / 1e6 }'
done
load=$(median "$work/times.load")
echo "DAT load alone (10,000 entries): median $load s ($(spread "$work/times.load") s)," \
    "$("$dat_load" "$work/full.dat" | awk '{ printf "%d entries kept, peak %d KiB", $2, $3 }')"
ratio=$(awk -v a="$(median "$work/times.kestran")" -v b="$(median "$work/times.sha1sum")" \
    'BEGIN { printf "%.3f", a / b }')
paired=$(paste "$work/times.kestran" "$work/times.sha1sum" | awk '{ print $1 / $2 }' | sort -g |
    awk '{ v[NR] = $1 } END { printf "%.2f-%.2f", v[1], v[NR] }')
echo
echo "kestran --dat -n / sha1sum: $ratio (target <= $TARGET; per repetition $paired)"
awk -v r="$ratio" -v t="$TARGET" 'BEGIN { exit !(r <= t) }' || fail "ratio $ratio above $TARGET"
awk -v l="$load" -v t="$LOAD_TARGET" 'BEGIN { exit !(l <= t) }' ||
    fail "DAT load $load s above $LOAD_TARGET s"

echo
echo "applying the shift found..."
"$kestran" --dat "$work/full.dat" "$work/dump.ccd" | tail -n 1 || fail "kestran --dat exited with $?"
cmp "$work/dump.img" "$work/truth.img" || fail "the shifted dump differs from the known-good image"
cmp "$work/dump.old" "$work/truth.img" >/dev/null &&
    fail "the backup is not the dump" || true

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "the shift found and applied gives the known-good image byte for byte; all targets met"
