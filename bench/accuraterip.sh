#!/usr/bin/env bash
# Times `kestran --accuraterip dBAR-....bin -n` finding the shift of a 706 MB disc (a data
# track, then 20 audio tracks) dumped 30 samples late, over the full -2348..2348 range, and
# `kestran --detect` on the same dump, each against `sha1sum` of the image, interleaved, warm
# cache; then lets kestran apply the shift and compares the result with the known-good image
# byte for byte.
#
# Usage: bench/accuraterip.sh [--keep] [--reps N] [SCRATCH_DIR]
#   SCRATCH_DIR  where the images go (default build/bench-scratch); the script works in a
#                fresh folder inside it and removes that folder at the end
#   --keep       keep that folder and its images
#   --reps N     timed repetitions of each command (default 7, at least 5)
# Needs the default build: cmake --preset default && cmake --build --preset default
# Exit status: 0 all checks and targets met, 1 otherwise, 2 usage or setup error.
set -euo pipefail

readonly TARGET=0.8         # kestran --accuraterip -n / sha1sum, at most
readonly DETECT_TARGET=0.3  # kestran --detect / sha1sum, at most
readonly DUMP_OFFSET=30     # the dump's audio lies this many samples late: kestran must find -30
readonly DATA=300 TRACKS=20 TRACK_LENGTH=14985

root=$(cd "$(dirname "$0")/.." && pwd)
tools=()
source "$root/bench/common.sh"
make_work 2

echo "scratch: $work"
echo "making the known-good disc, its response and the dump..."
disc=(--data $DATA --tracks $TRACKS --track-length $TRACK_LENGTH --edge-silence 2348)
"$make_disc" "${disc[@]}" "$work/truth.ccd" >/dev/null
"$make_disc" "${disc[@]}" --dump-offset $DUMP_OFFSET "$work/dump.ccd" >/dev/null
# The response: one pressing with the known-good image's v1 and frame-450 checksums.
"$kestran" --checksums "$work/truth.ccd" >"$work/checksums.txt" || fail "kestran --checksums"
id=$(sed -n 's/.*AccurateRip disc id //p' "$work/checksums.txt")
response=$work/dBAR-$id.bin
python3 - "$work/checksums.txt" "$id" "$response" <<'EOF'
import struct, sys
lines = open(sys.argv[1]).read().splitlines()
tracks = [l.split() for l in lines if len(l.split()) == 7 and l.split()[1] == "audio"]
_, id1, id2, cddb = sys.argv[2].split("-")
data = struct.pack("<BIII", len(tracks), int(id1, 16), int(id2, 16), int(cddb, 16))
for t in tracks:
    data += struct.pack("<BII", 9, int(t[4], 16), int(t[6], 16))
open(sys.argv[3], "wb").write(data)
EOF
size_bytes=$(stat -c %s "$work/dump.img")
echo "image: $size_bytes bytes; response $(basename "$response")"
cat "$work/dump.img" >/dev/null # warm cache

# What kestran finds, said once in full.
"$kestran" --accuraterip "$response" -n "$work/dump.ccd" >"$work/report.txt" ||
    fail "kestran --accuraterip -n exited with $?"
tail -n 2 "$work/report.txt"
grep -q "shift -$DUMP_OFFSET: the audio moves $DUMP_OFFSET samples toward the start" \
    "$work/report.txt" || fail "kestran did not find -$DUMP_OFFSET"
"$kestran" --detect "$work/dump.ccd" || fail "kestran --detect exited with $?"

echo "timing $reps repetitions, interleaved..."
for ((r = 0; r < reps; r++)); do
    if ((r % 2 == 0)); then
        timed accuraterip --stdout /dev/null "$kestran" --accuraterip "$response" -n -q "$work/dump.ccd"
        timed sha1sum --stdout /dev/null sha1sum "$work/dump.img"
    else
        timed sha1sum --stdout /dev/null sha1sum "$work/dump.img"
        timed accuraterip --stdout /dev/null "$kestran" --accuraterip "$response" -n -q "$work/dump.ccd"
    fi
    timed detect --stdout /dev/null "$kestran" --detect "$work/dump.ccd"
done

printf '\n%-34s %9s %15s %9s\n' "command ($reps runs)" "median s" "min-max s" "MB/s"
for label in accuraterip detect sha1sum; do
    m=$(median "$work/times.$label")
    awk -v label="$label" -v m="$m" -v s="$(spread "$work/times.$label")" -v bytes="$size_bytes" \
        'BEGIN { printf "%-34s %9.3f %15s %9.0f\n", label, m, s, bytes / m / 1e6 }'
done
echo
for pair in accuraterip:$TARGET detect:$DETECT_TARGET; do
    label=${pair%:*}
    target=${pair#*:}
    ratio=$(awk -v a="$(median "$work/times.$label")" -v b="$(median "$work/times.sha1sum")" \
        'BEGIN { printf "%.3f", a / b }')
    echo "kestran --$label / sha1sum: $ratio (target <= $target)"
    awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r <= t) }' || fail "ratio $ratio above $target"
done

echo
echo "applying the shift found..."
"$kestran" --accuraterip "$response" "$work/dump.ccd" | tail -n 1 ||
    fail "kestran --accuraterip exited with $?"
cmp "$work/dump.img" "$work/truth.img" || fail "the shifted dump differs from the known-good image"

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "the shift found and applied gives the known-good image byte for byte; all targets met"
