#!/bin/bash
# Runs the Linux kestran and kestran-cli.exe under Wine over the same inputs, command by command:
# the README's DAT worked example, a refusal, an undo, names with accents and Japanese, wildcards,
# folders walked, AccurateRip checksums, offset evidence, a usage error and a cancel. Their output
# lines (line ends and separators aside), exit statuses and, at the end, every file they leave
# must be the same, byte for byte.
# Usage: cli_compare.sh KESTRAN MAKE_SAMPLE_DISC WINE_LOADER KESTRAN_CLI_EXE FOLDER
set -u
kestran=$1 make_disc=$2 loader=$3 exe=$4 work=$5
export LC_ALL=C.UTF-8
failures=0
fail() {
    echo "cli-compare: $*" >&2
    failures=$((failures + 1))
}

# Runs one side's program in its folder: `side` is linux or windows.
run_side() {
    local side=$1
    shift
    if [ "$side" = linux ]; then
        "$kestran" "$@"
    else
        "$loader" "$exe" "$@"
    fi
}

# What kestran-cli.exe printed, with Linux line ends and separators (also as JSON escapes them).
as_linux() {
    tr -d '\r' <"$1" | sed -e 's#\\\\#/#g' -e 's#\\#/#g'
}

# Compares what the two sides printed for case `name`.
compare() {
    local name=$1 stream
    for stream in out err status; do
        if ! cmp -s "$work/linux.$name.$stream" <(as_linux "$work/windows.$name.$stream"); then
            fail "$name: kestran-cli.exe's $stream differs from the Linux program's:"
            diff "$work/linux.$name.$stream" <(as_linux "$work/windows.$name.$stream") >&2
        fi
    done
}

rm -rf "$work"
mkdir -p "$work/linux" "$work/windows"
named="Café déjà 日本語"
cd "$work/linux" || exit 1
"$make_disc" --edge-silence 2348 known.ccd >/dev/null
"$kestran" --hash known.ccd >known.dat
cp known.ccd game.ccd && cp known.img game.img && "$kestran" -q -o 30 game.ccd && rm game.old
"$make_disc" --data 300 --tracks 2 --track-length 400 "$named.ccd" >/dev/null
mkdir -p "Dossier été/日本" && cp known.ccd known.img "Dossier été/日本/"
# A control file that takes long enough to read for a cancel to come while it is read.
{ head -c 16000000 /dev/zero | tr '\0' '\n'; cat game.ccd; } >slow.ccd && cp game.img slow.img
cp -r -- * ../windows/

# The shell expands wildcards for the Linux program; kestran-cli.exe gets them as they are.
while IFS='|' read -r name arguments; do
    for side in linux windows; do
        [ $side = windows ] && set -f
        eval "set -- $arguments"
        set +f
        (cd "$work/$side" && run_side $side "$@" >"../$side.$name.out" 2>"../$side.$name.err"
         echo $? >"../$side.$name.status")
    done
    compare "$name"
done <<'CASES'
hash|--hash known.ccd
find|--dat known.dat -n game.ccd
apply|--dat known.dat game.ccd
verify|--dat known.dat game.ccd
refusal|-o 30 game.ccd
undo|--undo game.ccd
dry-run|-n --drive-offset 6 game.ccd
wildcards|-n -o -30 g*.ccd C*.ccd
named-shift|-o -30 -- "$named.ccd"
named-hash|--hash "$named.ccd"
named-dat|--dat known.dat -n "$named.ccd"
checksums|--checksums game.ccd "$named.ccd"
detect|--detect --json game.ccd
folders|-r -n "Dossier été"
folders-json|-r -n --json "Dossier été"
usage|-o 1e3 game.ccd
CASES

# Ctrl-C once the control file is open: both sides stop reading it and change nothing.
for side in linux windows; do
    cd "$work/$side" || exit 1
    if [ $side = linux ]; then
        "$kestran" -o -30 slow.ccd >../linux.cancel.out 2>../linux.cancel.err &
    else
        "$loader" "$exe" -o -30 slow.ccd >../windows.cancel.out 2>../windows.cancel.err &
    fi
    pid=$!
    for _ in $(seq 1200); do
        ls -l /proc/$pid/fd 2>/dev/null | grep -q 'slow\.ccd$' && break
        sleep 0.05
    done
    kill -INT $pid
    wait $pid
    echo $? >"../$side.cancel.status"
done
compare cancel
[ "$(cat "$work/linux.cancel.status")" = 130 ] || fail "the cancel came after the control file was read"

diff -r "$work/linux" "$work/windows" >&2 || fail "the two sides left different files"
[ $failures -eq 0 ] || exit 1
echo "cli-compare: kestran-cli.exe printed and wrote what the Linux program did in 17 cases"
