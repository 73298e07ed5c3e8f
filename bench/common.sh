# What the bench scripts share, sourced by them: the programs of the build they run, their
# options, the checks of the build, a fresh work folder inside the scratch folder, failures, and
# medians and spreads of timings. Before sourcing, a script sets `root` (the source tree) and
# `tools` (what else of the build it runs). KESTRAN= times another build of kestran.

build=$root/build/default
kestran=${KESTRAN:-$build/cli/kestran}
make_disc=$build/tools/make-sample-disc
measure=$build/bench/measure-run
verify=$build/bench/verify-shift

keep=0
reps=7
scratch=$root/build/bench-scratch
while [ $# -gt 0 ]; do
    case $1 in
        --keep) keep=1 ;;
        --reps)
            [ $# -ge 2 ] || { echo "--reps needs a number" >&2; exit 2; }
            reps=$2
            shift
            ;;
        # The script's own header comment is its help.
        -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) scratch=$1 ;;
    esac
    shift
done
if ! [[ $reps =~ ^[0-9]+$ ]] || [ "$reps" -lt 5 ]; then
    echo "--reps must be a number of at least 5" >&2
    exit 2
fi
for tool in "$kestran" "$make_disc" "$measure" "$verify" "${tools[@]}"; do
    if [ ! -x "$tool" ]; then
        echo "missing $tool; build first: cmake --preset default && cmake --build --preset default" >&2
        exit 2
    fi
done

# Makes the work folder $work inside the scratch folder, which must have $1 GiB free; it goes
# at the end unless --keep.
make_work() {
    mkdir -p "$scratch"
    local free_kib
    free_kib=$(df -Pk "$scratch" | awk 'NR == 2 { print $4 }')
    if [ "$free_kib" -lt $(($1 * 1024 * 1024)) ]; then
        echo "$scratch: $((free_kib / 1024)) MiB free, $1 GiB needed" >&2
        exit 2
    fi
    work=$(mktemp -d "$scratch/run.XXXXXX")
    trap cleanup EXIT
}
cleanup() {
    if [ "$keep" = 1 ]; then
        echo "kept $work"
    else
        rm -rf "$work"
        rmdir "$scratch" 2>/dev/null || true
    fi
}

# Makes the known-good disc $work/truth.ccd/.img of $DATA data sectors and $TRACKS audio tracks of
# $TRACK_LENGTH sectors (silence at the audio's ends, so that a shift there and back gives it back
# whole) and sets `starts` to its tracks' first sectors, as make_dat.py takes them.
make_truth_disc() {
    "$make_disc" --data $DATA --tracks $TRACKS --track-length $TRACK_LENGTH --edge-silence 2348 \
        "$work/truth.ccd" >/dev/null
    starts=0,$DATA
    for ((t = 1; t < TRACKS; t++)); do
        starts=$starts,$((DATA + PREGAP + t * TRACK_LENGTH))
    done
}

# Runs a timed command after flushing earlier outputs to disk; appends its seconds to
# $work/times.LABEL and its peak memory to $work/peak.LABEL.
timed() {
    local label=$1
    shift
    sync
    local line
    line=$("$measure" "$@") || { fail "$label: $* exited with $?"; return 1; }
    echo "${line% *}" >>"$work/times.$label"
    echo "${line#* }" >>"$work/peak.$label"
}

# Checks an output against the image model with verify-shift. The check needs three whole images
# in memory; huge pages spare it most page faults.
check() {
    GLIBC_TUNABLES=glibc.malloc.hugetlb=1 "$verify" "$@" || fail "model check: verify-shift $*"
}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

median() {
    sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
spread() {
    sort -g "$1" | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.3f-%.3f", lo, hi }'
}
