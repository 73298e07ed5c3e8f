#!/usr/bin/env bash
# On file systems that share blocks between files (XFS with reflink, btrfs), each made in a file
# and mounted through a loop device: times kestran on the ~700 MB mixed-mode sample disc against
# `cp --reflink=never` of its image, interleaved, counts the bytes of each new image that it does
# not share with its backup, and checks every new image against the image model.
#
# Usage: bench/cow-filesystems.sh [--keep] [--reps N] [SCRATCH_DIR]
#   SCRATCH_DIR  where the file systems' files go (default build/bench-scratch); the script works
#                in a fresh folder inside it (4 GiB free needed) and removes it, the mounts and
#                loop devices at the end
#   --keep       keep that folder (the file systems unmounted)
#   --reps N     timed repetitions of each command (default 7, at least 5)
# Needs root, loop devices, the kernel's xfs and btrfs, mkfs.xfs and mkfs.btrfs; a file system
# whose needs are not met is skipped with a line saying why. Called by bench/run.sh.
# Exit status: 0 all checks and targets met (or all skipped), 1 otherwise, 2 usage or setup error.
set -euo pipefail

readonly TIME_TARGET=0.50       # kestran / cp --reflink=never, at most
readonly UNSHARED_SLACK=2097152 # bytes the new image may own beyond its audio
readonly SHIFT=-30
readonly SECTOR_SIZE=2352
readonly FS_BYTES=$((3 * 1024 * 1024 * 1024))

root=$(cd "$(dirname "$0")/.." && pwd)
unshared=$root/build/default/bench/unshared-bytes
tools=("$unshared")
source "$root/bench/common.sh"

# Why file systems cannot be made here at all, or nothing.
why_not() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "not running as root"
    elif ! command -v losetup >/dev/null || ! losetup -f >/dev/null 2>&1; then
        echo "no free loop device"
    fi
}
reason=$(why_not)
if [ -n "$reason" ]; then
    echo "copy-on-write file systems: skipped, $reason"
    exit 0
fi

make_work 4
mounts=()
loops=()
unmount() {
    local m l
    for m in "${mounts[@]}"; do
        umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
    done
    for l in "${loops[@]}"; do
        losetup -d "$l" 2>/dev/null || true
    done
    cleanup
}
trap unmount EXIT
trap 'exit 130' INT TERM

# Makes file system $1 in a file and mounts it at $work/$1; false with a line saying why not.
make_fs() {
    local fs=$1 mkfs
    case $fs in
        xfs) mkfs=(mkfs.xfs -q -f -m reflink=1) ;;
        btrfs) mkfs=(mkfs.btrfs -q -f) ;;
    esac
    if ! command -v "${mkfs[0]}" >/dev/null; then
        echo "$fs: skipped, ${mkfs[0]} is not installed (tools/install-deps.sh)"
        return 1
    fi
    if ! grep -qw "$fs" /proc/filesystems && ! modprobe "$fs" 2>/dev/null; then
        echo "$fs: skipped, the kernel has no $fs"
        return 1
    fi
    truncate -s "$FS_BYTES" "$work/$fs.fs"
    local loop
    # Direct I/O to the backing file, so that pages are not cached twice.
    if ! loop=$(losetup -f --show --direct-io=on "$work/$fs.fs" 2>/dev/null) &&
        ! loop=$(losetup -f --show "$work/$fs.fs" 2>/dev/null); then
        echo "$fs: skipped, no loop device could be set up"
        return 1
    fi
    loops+=("$loop")
    if ! "${mkfs[@]}" "$loop" >/dev/null 2>&1; then
        echo "$fs: skipped, ${mkfs[*]} failed"
        return 1
    fi
    mkdir -p "$work/$fs"
    if ! mount "$loop" "$work/$fs" 2>/dev/null; then
        echo "$fs: skipped, mounting it failed"
        return 1
    fi
    mounts+=("$work/$fs")
}

# The mixed-mode disc of bench/run.sh: 212500 data sectors (~500 MB), then audio to sector 300000.
readonly AUDIO_RANGE=212500:300000
readonly AUDIO_BYTES=$(((300000 - 212500) * SECTOR_SIZE))

# Times both commands $reps times on file system $1, interleaved, and reports.
bench_fs() {
    local fs=$1 dir=$work/$1 r line
    "$make_disc" --data 212500 --tracks 5 --track-length 17470 "$dir/mixed.ccd" >/dev/null
    cat "$dir/mixed.img" >/dev/null # warm cache
    : >"$work/$fs.kestran"
    : >"$work/$fs.cp"
    : >"$work/$fs.unshared"
    run_kestran() {
        sync
        line=$("$measure" "$kestran" -q -o "$SHIFT" "$dir/mixed.ccd") ||
            { fail "$fs: kestran exited with $?"; return 0; }
        echo "${line% *}" >>"$work/$fs.kestran"
        "$unshared" "$dir/mixed.img" "$dir/mixed.old" >>"$work/$fs.unshared" ||
            fail "$fs: unshared-bytes failed"
        GLIBC_TUNABLES=glibc.malloc.hugetlb=1 "$verify" "$dir/mixed.old" "$dir/mixed.img" \
            "$SHIFT" "$AUDIO_RANGE" || fail "$fs: model check of the new image"
        mv -f "$dir/mixed.old" "$dir/mixed.img"
    }
    run_cp() {
        sync
        line=$("$measure" cp --reflink=never "$dir/mixed.img" "$dir/copy.img") ||
            { fail "$fs: cp exited with $?"; return 0; }
        echo "${line% *}" >>"$work/$fs.cp"
        rm -f "$dir/copy.img"
    }
    for ((r = 0; r < reps; r++)); do
        if ((r % 2 == 0)); then
            run_kestran
            run_cp
        else
            run_cp
            run_kestran
        fi
    done
    [ -s "$work/$fs.kestran" ] && [ -s "$work/$fs.cp" ] || return 0

    local k c ratio most
    k=$(median "$work/$fs.kestran")
    c=$(median "$work/$fs.cp")
    ratio=$(awk -v a="$k" -v b="$c" 'BEGIN { printf "%.3f", a / b }')
    most=$(awk '{ print $1 }' "$work/$fs.unshared" | sort -g | tail -n 1)
    printf '%-6s kestran %.3f s (%s), cp --reflink=never %.3f s (%s): %s x cp;' "$fs" "$k" \
        "$(spread "$work/$fs.kestran")" "$c" "$(spread "$work/$fs.cp")" "$ratio"
    paste "$work/$fs.kestran" "$work/$fs.cp" | awk '{ print $1 / $2 }' >"$work/$fs.ratio"
    printf ' per repetition %s\n' "$(spread "$work/$fs.ratio")"
    printf '%-6s unshared bytes of the new image: at most %s of %s allocated (audio %s)\n' "$fs" \
        "$most" "$(awk 'NR == 1 { print $2 }' "$work/$fs.unshared")" "$AUDIO_BYTES"
    awk -v r="$ratio" -v t="$TIME_TARGET" 'BEGIN { exit !(r <= t) }' ||
        fail "$fs: kestran / cp $ratio above $TIME_TARGET"
    [ "$most" -le $((AUDIO_BYTES + UNSHARED_SLACK)) ] ||
        fail "$fs: $most unshared bytes, more than the audio and $UNSHARED_SLACK"
}

echo "copy-on-write file systems in $work, $reps repetitions each, shift $SHIFT:"
for fs in xfs btrfs; do
    if make_fs "$fs"; then
        bench_fs "$fs"
    fi
done

if [ "$failures" -gt 0 ]; then
    echo "copy-on-write file systems: $failures failure(s)"
    exit 1
fi
