#!/usr/bin/env bash
# Times `kestran --dat FILE.dat -n -r --json` over a collection of 40 mixed-mode images of about
# 100 MB each (4 GB in all) in nested folders: 28 that match the DAT as they are, 10 dumped 30
# samples late, one not in the DAT and one damaged (cut short), against `cat` of all the images
# to /dev/null, interleaved, warm cache. Checks every JSON line, and compares the peak resident
# memory of the run over 4 and over 40 images.
#
# Usage: bench/collection.sh [--keep] [--reps N] [SCRATCH_DIR]
#   SCRATCH_DIR  where the images go (default build/bench-scratch); the script works in a
#                fresh folder inside it and removes that folder at the end
#   --keep       keep that folder and its images
#   --reps N     timed repetitions of each command (default 7, at least 5)
# Needs the default build: cmake --preset default && cmake --build --preset default
# Exit status: 0 all checks and targets met, 1 otherwise, 2 usage or setup error.
set -euo pipefail

readonly TARGET=1.2     # kestran over the collection / cat of its images, at most
readonly RSS_SPREAD=16  # MiB between the peaks at 4 and at 40 images, at most
readonly DUMP_SHIFT=30
readonly DATA=30000 TRACKS=3 TRACK_LENGTH=4100 PREGAP=150

root=$(cd "$(dirname "$0")/.." && pwd)
tools=()
source "$root/bench/common.sh"
make_work 6

echo "scratch: $work"
echo "making the known-good disc, its DAT, the dump and the collection..."
make_truth_disc
python3 "$root/bench/make_dat.py" "$work/truth.img" "Bench Disc (Europe)" "$starts" \
    "$work/system.dat" --decoys 999
cp "$work/truth.ccd" "$work/dump.ccd"
cp "$work/truth.img" "$work/dump.img"
"$kestran" -q -o $DUMP_SHIFT "$work/dump.ccd"
rm "$work/dump.old"

# disc01..disc40 in four folders of ten, each folder a level deeper than the one before.
collection=$work/collection
folder=$collection
for ((i = 1; i <= 40; i++)); do
    if ((i % 10 == 1)); then
        folder=$folder/set$((i / 10 + 1))
        mkdir -p "$folder"
    fi
    name=$(printf "%s/disc%02d" "$folder" "$i")
    source_disc=$work/truth
    if ((i % 4 == 2)); then
        source_disc=$work/dump
    fi
    cp "$source_disc.ccd" "$name.ccd"
    cp "$source_disc.img" "$name.img"
    if ((i == 39)); then
        printf 'X' | dd of="$name.img" bs=1 seek=1000 conv=notrunc status=none # not in the DAT
    elif ((i == 40)); then
        truncate -s $((DATA / 2 * 2352)) "$name.img" # damaged: cut short
    fi
done
mkdir -p "$work/four"
for ((i = 1; i <= 4; i++)); do
    name=$(printf "disc%02d" "$i")
    ln "$collection/set1/$name.ccd" "$collection/set1/$name.img" "$work/four/"
done
mapfile -t images < <(find "$collection" -name '*.img' | sort)
bytes=$(cat "${images[@]}" | wc -c)
echo "collection: ${#images[@]} images, $bytes bytes"

# What kestran says, checked line by line: every image, its verdict, the shift found.
status=0
"$kestran" --dat "$work/system.dat" -n -r --json "$collection" >"$work/lines.json" \
    2>"$work/summary.txt" || status=$?
cat "$work/summary.txt"
[ "$status" = 1 ] || fail "exit status $status, not 1 (an image not in the DAT, one damaged)"
python3 - "$work/lines.json" "$collection" <<'PYTHON' || fail "the JSON lines are not as expected"
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1])]
got = [(l["image"][len(sys.argv[2]) + 1:], l["verdict"], l["shift"]) for l in lines]
want = []
for i in range(1, 41):
    folder = "/".join("set%d" % (s + 1) for s in range((i - 1) // 10 + 1))
    verdict, shift = ("shift-found", -30) if i % 4 == 2 else ("matches", 0)
    if i == 39:
        verdict, shift = "no-entry", None
    if i == 40:
        verdict, shift = "damaged", None
    want.append(("%s/disc%02d.ccd" % (folder, i), verdict, shift))
for g, w in zip(got, want):
    if g != w:
        print("got", g, "want", w)
sys.exit(0 if got == want else 1)
PYTHON

measured() {
    local label=$1
    shift
    local line
    line=$("$measure" --stdout /dev/null "$@" 2>/dev/null) || true
    echo "${line% *}" >>"$work/times.$label"
    echo "${line#* }" >>"$work/peak.$label"
}

echo "timing $reps repetitions, interleaved..."
cat "${images[@]}" >/dev/null # warm cache
for ((r = 0; r < reps; r++)); do
    if ((r % 2 == 0)); then
        measured kestran "$kestran" --dat "$work/system.dat" -n -r --json "$collection"
        measured cat cat "${images[@]}"
    else
        measured cat cat "${images[@]}"
        measured kestran "$kestran" --dat "$work/system.dat" -n -r --json "$collection"
    fi
    measured four "$kestran" --dat "$work/system.dat" -n -r --json "$work/four"
done

printf '\n%-40s %9s %15s %9s\n' "command ($reps runs)" "median s" "min-max s" "MB/s"
for label in kestran cat; do
    m=$(median "$work/times.$label")
    awk -v label="$label" -v m="$m" -v s="$(spread "$work/times.$label")" -v bytes="$bytes" \
        'BEGIN { printf "%-40s %9.3f %15s %9.0f\n", label, m, s, bytes / m / 1e6 }'
done
ratio=$(awk -v a="$(median "$work/times.kestran")" -v b="$(median "$work/times.cat")" \
    'BEGIN { printf "%.3f", a / b }')
paired=$(paste "$work/times.kestran" "$work/times.cat" | awk '{ print $1 / $2 }' | sort -g |
    awk '{ v[NR] = $1 } END { printf "%.2f-%.2f", v[1], v[NR] }')
peak40=$(sort -g "$work/peak.kestran" | tail -n 1)
peak4=$(sort -g "$work/peak.four" | tail -n 1)
echo
echo "kestran --dat -n -r --json / cat: $ratio (target <= $TARGET; per repetition $paired)"
echo "peak resident memory: $((peak4 / 1024)) MiB at 4 images, $((peak40 / 1024)) MiB at 40" \
    "(target: within $RSS_SPREAD MiB)"
awk -v r="$ratio" -v t="$TARGET" 'BEGIN { exit !(r <= t) }' || fail "ratio $ratio above $TARGET"
spread_kib=$((peak40 > peak4 ? peak40 - peak4 : peak4 - peak40))
[ "$spread_kib" -le $((RSS_SPREAD * 1024)) ] || fail "peaks $peak4 and $peak40 KiB too far apart"

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "every image reported as expected; all targets met"
