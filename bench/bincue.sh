#!/usr/bin/env bash
# Times kestran on BIN/CUE sets of a ~705 MB mixed-mode disc (a ~500 MB data track, then ~205 MB
# of audio in 20 tracks): a redump-style split set against cat of its 20 audio files alone (the
# data track's file is never touched: it costs nothing), and the same disc as one file against
# cat of that file, in the same run. Every output timed is checked against the image model, the
# data file's inode and time against what they were, and the peak resident memory against the
# same bound as for CloneCD sets.
#
# Usage: bench/bincue.sh [--keep] [--reps N] [SCRATCH_DIR]
#   SCRATCH_DIR  where the sets go, on the disk to measure (default build/bench-scratch)
#   --keep       keep the work folder and its sets
#   --reps N     timed repetitions of each command (default 7, at least 5)
# Needs the default build: cmake --preset default && cmake --build --preset default
# Exit status: 0 all checks and targets met, 1 otherwise, 2 usage or setup error.
set -euo pipefail

readonly SPLIT_TARGET=1.00     # kestran on the split set / cat of its audio files, at most
readonly SINGLE_TARGET=1.00    # kestran on the single file / cat of it, at most
readonly MEMORY_LIMIT_KIB=4096 # peak resident memory of kestran, below
readonly SHIFT=-30
readonly SECTOR_SIZE=2352
readonly DATA=212500 # sectors of the data track, ~500 MB
readonly TRACKS=20
readonly LENGTH=4355 # sectors of each audio track after the first's 150-sector pregap

root=$(cd "$(dirname "$0")/.." && pwd)
tools=()
source "$root/bench/common.sh"
make_work 3

msf() {
    printf '%02d:%02d:%02d' $(($1 / 4500)) $(($1 / 75 % 60)) $(($1 % 75))
}

echo "scratch: $work ($(df -P "$work" | awk 'NR == 2 { print $1 }'))"
echo "making the sets..."
"$make_disc" --data $DATA --tracks $TRACKS --track-length $LENGTH "$work/disc.ccd" >/dev/null
total=$(($(stat -c %s "$work/disc.img") / SECTOR_SIZE))
audio=$((total - DATA))
# Track k's first sector: the data track, then the first audio track with its pregap.
starts=(0 $DATA)
for ((k = 1; k < TRACKS; k++)); do
    starts+=($((DATA + 150 + k * LENGTH)))
done
starts+=($total)
mkdir "$work/split" "$work/single"
mv "$work/disc.img" "$work/single/disc.bin"
rm "$work/disc.ccd"
# Track t's lines: its INDEX values counted from `$2` (its file's first sector).
track_lines() {
    local t=$1 from=$2
    if [ "$t" = 1 ]; then
        printf '  TRACK 01 MODE1/2352\n    INDEX 01 %s\n' "$(msf $((0 - from)))"
    elif [ "$t" = 2 ]; then
        printf '  TRACK 02 AUDIO\n    INDEX 00 %s\n    INDEX 01 %s\n' "$(msf $((DATA - from)))" \
            "$(msf $((DATA + 150 - from)))"
    else
        printf '  TRACK %02d AUDIO\n    INDEX 01 %s\n' "$t" "$(msf $((starts[t - 1] - from)))"
    fi
}
echo 'FILE "disc.bin" BINARY' >"$work/single/disc.cue"
: >"$work/split/disc.cue"
for ((t = 1; t <= TRACKS + 1; t++)); do
    name=$(printf 'disc (Track %02d).bin' $t)
    first=${starts[t - 1]}
    dd if="$work/single/disc.bin" of="$work/split/$name" bs=$SECTOR_SIZE skip="$first" \
        count=$((starts[t] - first)) status=none
    { echo "FILE \"$name\" BINARY"; track_lines $t "$first"; } >>"$work/split/disc.cue"
    track_lines $t 0 >>"$work/single/disc.cue"
done
data_file="$work/split/disc (Track 01).bin"
data_state=$(stat -c '%i %Y %s' "$data_file")
audio_files=()
for ((t = 2; t <= TRACKS + 1; t++)); do
    audio_files+=("$work/split/$(printf 'disc (Track %02d).bin' $t)")
done
cat "$work/single/disc.bin" "${audio_files[@]}" >/dev/null # warm cache

# kestran on the split set; the audio files before and after, one after the other, checked
# against the model; the originals put back.
run_split() {
    timed kestran.split "$kestran" -q -o $SHIFT "$work/split/disc.cue" || return
    local old=() t
    for ((t = 2; t <= TRACKS + 1; t++)); do
        old+=("$work/split/$(printf 'disc (Track %02d).old' $t)")
    done
    cat "${old[@]}" >"$work/before.bin"
    cat "${audio_files[@]}" >"$work/after.bin"
    check "$work/before.bin" "$work/after.bin" $SHIFT 0:$audio
    rm -f "$work/before.bin" "$work/after.bin"
    [ "$(stat -c '%i %Y %s' "$data_file")" = "$data_state" ] || fail "the data file was touched"
    [ ! -e "$work/split/disc (Track 01).old" ] || fail "the data file was renamed"
    for ((t = 2; t <= TRACKS + 1; t++)); do
        mv -f "${old[t - 2]}" "${audio_files[t - 2]}"
    done
}
run_single() {
    timed kestran.single "$kestran" -q -o $SHIFT "$work/single/disc.cue" || return
    check "$work/single/disc.old" "$work/single/disc.bin" $SHIFT $DATA:$total
    mv -f "$work/single/disc.old" "$work/single/disc.bin"
}
run_cat() {
    if [ "$1" = split ]; then
        timed cat.split --stdout "$work/copy.bin" cat "${audio_files[@]}"
    else
        timed cat.single --stdout "$work/copy.bin" cat "$work/single/disc.bin"
    fi
    rm -f "$work/copy.bin"
}

echo "timing $reps repetitions of 4 commands, interleaved..."
for ((r = 0; r < reps; r++)); do
    for kind in split single; do
        if ((r % 2 == 0)); then
            run_$kind
            run_cat $kind
        else
            run_cat $kind
            run_$kind
        fi
    done
done
if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s); no figures"
    exit 1
fi

audio_bytes=$((audio * SECTOR_SIZE))
single_bytes=$((total * SECTOR_SIZE))
printf '\n%-22s %9s %15s %9s %9s\n' "command (${reps} runs)" "median s" "min-max s" "MB/s" "x cat"
for kind in split single; do
    bytes=$([ $kind = split ] && echo $audio_bytes || echo $single_bytes)
    c=$(median "$work/times.cat.$kind")
    for what in kestran cat; do
        file=$work/times.$what.$kind
        awk -v label="$what $kind" -v m="$(median "$file")" -v s="$(spread "$file")" \
            -v bytes="$bytes" -v c="$c" \
            'BEGIN { printf "%-22s %9.3f %15s %9.0f %9.2f\n", label, m, s, bytes / m / 1e6, m / c }'
    done
done
echo "set: $single_bytes bytes ($total sectors), of them audio $audio_bytes bytes in $TRACKS files"

echo
for kind in split single; do
    target=$([ $kind = split ] && echo $SPLIT_TARGET || echo $SINGLE_TARGET)
    ratio=$(awk -v a="$(median "$work/times.kestran.$kind")" -v b="$(median "$work/times.cat.$kind")" \
        'BEGIN { printf "%.3f", a / b }')
    echo "kestran / cat, $kind: $ratio (target <= $target)"
    awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r <= t) }' ||
        fail "$kind ratio $ratio above $target"
    peak=$(sort -g "$work/peak.kestran.$kind" | tail -n 1)
    echo "  peak resident memory of kestran: $peak KiB"
    [ "$peak" -lt "$MEMORY_LIMIT_KIB" ] || fail "$kind: peak memory not below $MEMORY_LIMIT_KIB KiB"
done
if [ "$failures" -gt 0 ]; then
    echo "$failures target(s) missed"
    exit 1
fi
echo "all outputs match the model; the data file untouched; all targets met"
