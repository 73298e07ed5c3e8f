#!/usr/bin/env bash
# Times kestran against cat, cp and dd on an all-audio and a mixed-mode sample disc of ~700 MB,
# checks every output it timed against the image model and the targets below, and measures
# kestran's peak resident memory on 70 MB and 700 MB images. Then, as root where loop devices
# work, bench/cow-filesystems.sh does the mixed-mode disc on XFS and btrfs made in files.
#
# Usage: bench/run.sh [--keep] [--reps N] [SCRATCH_DIR]
#   SCRATCH_DIR  where the images go, on the disk to measure (default build/bench-scratch);
#                the script works in a fresh folder inside it and removes that folder at the end
#   --keep       keep that folder and its images
#   --reps N     timed repetitions of each command (default 7, at least 5)
# Needs the default build: cmake --preset default && cmake --build --preset default
# KESTRAN=/path/to/kestran times another build of kestran (to compare changes).
# Exit status: 0 all checks and targets met, 1 otherwise, 2 usage or setup error.
set -euo pipefail

readonly AUDIO_TARGET=1.10     # kestran / cat on the all-audio image, at most
readonly MIXED_TARGET=1.00     # kestran / cat on the mixed-mode image, at most
readonly MEMORY_LIMIT_KIB=4096 # peak resident memory of kestran, below
readonly MEMORY_SLACK_KIB=128  # what the 700 MB peak may exceed the 70 MB peak by
readonly SHIFT=-30             # samples; 120 bytes toward the start
readonly SECTOR_SIZE=2352

root=$(cd "$(dirname "$0")/.." && pwd)
tools=()
source "$root/bench/common.sh"
make_work 3

# Sample discs: NAME, the audio sector ranges [first,end), then make-sample-disc's options.
declare -A ranges
make_image() {
    local name=$1 range=$2
    shift 2
    "$make_disc" "$@" "$work/$name.ccd" >/dev/null
    ranges[$name]=$range
}

# One timed run of one command on image NAME, its output checked and cleared away.
run_one() {
    local what=$1 name=$2
    local image=$work/$name.img copy=$work/copy.img
    case $what in
        kestran)
            timed "kestran.$name" "$kestran" -q -o "$SHIFT" "$work/$name.ccd" &&
                check "$work/$name.old" "$image" "$SHIFT" ${ranges[$name]}
            if [ -e "$work/$name.old" ]; then
                mv -f "$work/$name.old" "$image"
            fi
            ;;
        cat)
            timed "cat.$name" --stdout "$copy" cat "$image" && check "$image" "$copy" 0
            ;;
        cp)
            timed "cp.$name" cp "$image" "$copy" && check "$image" "$copy" 0
            ;;
        dd)
            # A plain copy through user memory, for reference: what kestran no longer does.
            timed "dd.$name" dd if="$image" of="$copy" bs=$((256 * SECTOR_SIZE)) status=none &&
                check "$image" "$copy" 0
            ;;
        tools)
            # The same shift with standard tools: drop the first 120 bytes, append 120 zeros.
            local bytes=$((-4 * SHIFT))
            timed "tools.$name" --stdout "$copy" bash -c \
                '{ tail -c +"$(($2 + 1))" "$1"; head -c "$2" /dev/zero; }' tools "$image" \
                "$bytes" && check "$image" "$copy" "$SHIFT" ${ranges[$name]}
            ;;
    esac
    rm -f "$copy"
}

largest() {
    sort -g "$1" | tail -n 1
}

echo "scratch: $work ($(df -P "$work" | awk 'NR == 2 { print $1 }'))"
echo "making the sample discs..."
# ~700 MB: 300000 sectors. All audio from sector 0; mixed: 212500 data sectors (~500 MB), then
# a 150-sector pregap and five audio tracks, audio from the pregap on.
make_image audio 0:300000 --data 0 --tracks 20 --track-length 15000
make_image mixed 212500:300000 --data 212500 --tracks 5 --track-length 17470
# ~70 MB: 30000 sectors, the same two kinds.
make_image audio70 0:30000 --data 0 --tracks 2 --track-length 15000
make_image mixed70 21250:30000 --data 21250 --tracks 5 --track-length 1720
size_bytes=$(stat -c %s "$work/audio.img")
small_bytes=$(stat -c %s "$work/audio70.img")
for name in audio mixed audio70 mixed70; do
    cat "$work/$name.img" >/dev/null # warm cache
done

# Each repetition runs every command once; kestran and cat run back to back, in turns first,
# so that the load of the moment weighs on both alike.
echo "timing $reps repetitions of 9 commands, interleaved..."
for ((r = 0; r < reps; r++)); do
    for name in audio mixed; do
        if ((r % 2 == 0)); then
            run_one kestran $name
            run_one cat $name
        else
            run_one cat $name
            run_one kestran $name
        fi
        run_one cp $name
        run_one dd $name
        if [ $name = audio ]; then
            run_one tools $name
        fi
    done
done
for ((r = 0; r < reps; r++)); do
    run_one kestran audio70
    run_one kestran mixed70
done

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s); no figures"
    exit 1
fi

# Figures: medians of wall time, throughput in MB/s (10^6 bytes), ratios to cat.
printf '\n%-22s %9s %15s %9s %9s\n' "command (${reps} runs)" "median s" "min-max s" "MB/s" "x cat"
for name in audio mixed; do
    cat_median=$(median "$work/times.cat.$name")
    for what in kestran cat cp dd tools; do
        file=$work/times.$what.$name
        [ -f "$file" ] || continue
        m=$(median "$file")
        awk -v label="$what $name" -v m="$m" -v s="$(spread "$file")" -v bytes="$size_bytes" \
            -v c="$cat_median" \
            'BEGIN { printf "%-22s %9.3f %15s %9.0f %9.2f\n", label, m, s, bytes / m / 1e6, m / c }'
    done
done
echo "image size: $size_bytes bytes ($((size_bytes / SECTOR_SIZE)) sectors); 70 MB images: $small_bytes bytes"

ratio() {
    awk -v a="$(median "$work/times.kestran.$1")" -v b="$(median "$work/times.cat.$1")" \
        'BEGIN { printf "%.3f", a / b }'
}
# The same ratio within each repetition, whose spread shows how steady the machine was.
paired() {
    paste "$work/times.kestran.$1" "$work/times.cat.$1" | awk '{ print $1 / $2 }' |
        sort -g | awk '{ v[NR] = $1 } END { printf "%.2f-%.2f", v[1], v[NR] }'
}
audio_ratio=$(ratio audio)
mixed_ratio=$(ratio mixed)
echo
echo "kestran / cat, all-audio image: $audio_ratio (target <= $AUDIO_TARGET;" \
    "per repetition $(paired audio))"
echo "kestran / cat, mixed-mode image: $mixed_ratio (target <= $MIXED_TARGET;" \
    "per repetition $(paired mixed))"
awk -v r="$audio_ratio" -v t="$AUDIO_TARGET" 'BEGIN { exit !(r <= t) }' ||
    fail "all-audio ratio $audio_ratio above $AUDIO_TARGET"
awk -v r="$mixed_ratio" -v t="$MIXED_TARGET" 'BEGIN { exit !(r <= t) }' ||
    fail "mixed-mode ratio $mixed_ratio above $MIXED_TARGET"

echo
echo "peak resident memory of kestran (largest of the runs):"
for kind in audio mixed; do
    big=$(largest "$work/peak.kestran.$kind")
    small=$(largest "$work/peak.kestran.${kind}70")
    echo "  $kind: $small KiB on 70 MB, $big KiB on 700 MB"
    [ "$big" -lt "$MEMORY_LIMIT_KIB" ] && [ "$small" -lt "$MEMORY_LIMIT_KIB" ] ||
        fail "$kind: peak memory not below $MEMORY_LIMIT_KIB KiB"
    [ "$big" -le $((small + MEMORY_SLACK_KIB)) ] ||
        fail "$kind: peak memory grows with the image ($small KiB -> $big KiB)"
done

echo
cow_options=(--reps "$reps")
if [ "$keep" = 1 ]; then
    cow_options+=(--keep)
fi
"$root/bench/cow-filesystems.sh" "${cow_options[@]}" "$scratch" ||
    fail "copy-on-write file systems: checks or targets missed"

if [ "$failures" -gt 0 ]; then
    echo "$failures target(s) missed"
    exit 1
fi
echo "all outputs match the model; all targets met"
