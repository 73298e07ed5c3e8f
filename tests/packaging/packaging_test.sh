#!/bin/bash
# Installs the command line into a scratch root and checks what a user gets: the program, its
# manual page (rendered where man is installed), the bash completion, and the .deb that cpack
# makes (where dpkg-deb is installed).
# Usage: packaging_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "packaging_test: $*" >&2
    exit 1
}

DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr >/dev/null
for file in usr/bin/kestran usr/share/man/man1/kestran.1 usr/share/bash-completion/completions/kestran; do
    [ -f "$scratch/root/$file" ] || fail "cmake --install did not install /$file"
done
version=$("$scratch/root/usr/bin/kestran" --version)

# A minimized system's man is a stand-in that renders nothing: only a real one counts.
if man --version 2>/dev/null | grep -q '^man'; then
    page=$(MANWIDTH=80 man --warnings -l "$scratch/root/usr/share/man/man1/kestran.1" 2>"$scratch/man.err")
    [ ! -s "$scratch/man.err" ] || fail "man warns: $(cat "$scratch/man.err")"
    for word in --drive-offset --dry-run --undo "EXIT STATUS" "${version#kestran }"; do
        grep -q -e "$word" <<<"$page" || fail "the manual page lacks $word"
    done
fi

# The completion offers options after a dash, control files (any case) and folders otherwise,
# and nothing where a number is wanted.
mkdir "$scratch/discs" "$scratch/discs/folder"
touch "$scratch/discs/a.ccd" "$scratch/discs/B.CCD" "$scratch/discs/a.img"
completions() {
    (cd "$scratch/discs" && source "$scratch/root/usr/share/bash-completion/completions/kestran" &&
        COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && _kestran &&
        printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
}
[ "$(completions kestran --dr)" = "--drive-offset --dry-run " ] || fail "options: $(completions kestran --dr)"
[ "$(completions kestran -q '')" = "B.CCD a.ccd folder " ] || fail "files: $(completions kestran -q '')"
[ "$(completions kestran -o '')" = " " ] || fail "after -o: $(completions kestran -o '')"

if command -v dpkg-deb >/dev/null; then
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/deb" >"$scratch/cpack.log" 2>&1 ||
        fail "cpack failed: $(cat "$scratch/cpack.log")"
    deb=$(ls "$scratch"/deb/kestran_*.deb)
    contents=$(dpkg-deb -c "$deb")
    for file in ./usr/bin/kestran ./usr/share/man/man1/kestran.1 \
        ./usr/share/bash-completion/completions/kestran; do
        grep -q " $file\$" <<<"$contents" || fail "$deb lacks $file"
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "${version#kestran }" ] || fail "$deb has another version"
fi
echo "packaging_test: installed files, manual page, completion and package checked"
