#!/bin/sh
# Builds the Windows programs (32-bit, static) and their zip, then runs the Windows tests under
# Wine and Xvfb: the in-process dialog tests, the whole-program tests and byte-for-byte
# comparisons of the window and of kestran-cli.exe with the Linux command line. The tests run on the program we ship wherever the 32-bit Wine
# loader runs; where it does not (a kernel without 32-bit support), or with TEST_WINDOWS_64=1,
# they run on a 64-bit build of the same sources under wine64.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

fail() {
    echo "test-windows: $*" >&2
    exit 1
}

# The program and its zip, from the mingw preset.
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2
(cd build/mingw && rm -f kestran-*-windows.zip && cpack -G ZIP >/dev/null)
zip=$(ls build/mingw/kestran-*-windows.zip)
contents=$(python3 -m zipfile -l "$zip")
for file in kestran.exe kestran-cli.exe README.txt; do
    echo "$contents" | grep -q "^$file " || fail "$zip has no $file"
done
exe=build/mingw/shell/kestran.exe
i686-w64-mingw32-objdump -f "$exe" | grep -q 'file format pei-i386' || fail "$exe is not PE32"
i686-w64-mingw32-objdump -p "$exe" | grep -q 'Subsystem.*Windows GUI' || fail "$exe is not a GUI program"
if i686-w64-mingw32-objdump -p "$exe" | grep 'DLL Name' | grep -qiv -e kernel32 -e user32 \
    -e shell32 -e msvcrt; then
    fail "$exe needs a DLL that a bare Windows lacks"
fi
# The command line: a 32-bit console program that needs only DLLs Windows ships.
cli=build/mingw/cli/kestran-cli.exe
i686-w64-mingw32-objdump -f "$cli" | grep -q 'file format pei-i386' || fail "$cli is not PE32"
i686-w64-mingw32-objdump -p "$cli" | grep -q 'Subsystem.*Windows CUI' || fail "$cli is not a console program"
if i686-w64-mingw32-objdump -p "$cli" | grep 'DLL Name' | grep -qiv -e kernel32 -e user32 \
    -e shell32 -e msvcrt -e advapi32 -e shlwapi -e ws2_32; then
    fail "$cli needs a DLL that a bare Windows lacks"
fi

# Which Wine runs the tests: the 32-bit loader wherever the kernel runs it. Asking for its
# version starts no Wine session (a session begun here, without the display, would give the
# tests that join it a desktop without one: their windows could not be created).
build=build/mingw
arch=i686
loader=wine
runs32=no
if [ "${TEST_WINDOWS_64:-0}" = 1 ]; then
    echo "test-windows: TEST_WINDOWS_64=1: testing a 64-bit build under wine64"
elif why=$(/usr/lib/wine/wine --version 2>&1); then
    runs32=yes
    echo "test-windows: testing the i686 build (the program we ship) under the 32-bit Wine loader"
else
    echo "test-windows: the 32-bit Wine loader does not run here ($why); testing a 64-bit build" \
        "under wine64"
fi
if [ $runs32 = no ]; then
    [ -x /usr/lib/wine/wine64 ] || fail "wine64 is missing (tools/install-deps.sh installs it)"
    cmake -S . -B build/mingw64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/mingw64 -j 2
    build=build/mingw64
    arch=x86_64
    loader=/usr/lib/wine/wine64
    export WINELOADER=$loader
fi
export WINEPREFIX="$root/$build/wineprefix"
# A session left in this prefix by an interrupted run would lack this run's display.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
# The discs earlier runs left in their scratch folders.
rm -rf "$WINEPREFIX"/drive_c/users/*/Temp/kestran-*

reports="$root/$build/test-reports"
compare="$root/$build/compare"
rm -rf "$reports" "$compare"
mkdir -p "$reports" "$compare/linux" "$compare/windows"
export GTEST_OUTPUT="xml:Z:$reports/"

# The Linux command line and the sample-disc tool, for the comparison.
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target kestran_cli make-sample-disc
build/default/tools/make-sample-disc --data 700 --tracks 3 --track-length 900 \
    "$compare/linux/disc.ccd" >/dev/null
cp "$compare/linux/disc.ccd" "$compare/linux/disc.img" "$compare/windows/"
build/default/cli/kestran -q -o -30 "$compare/linux/disc.ccd"

# One display and one Wine session for everything that opens a window.
export TEST_WINDOWS_BUILD="$build" TEST_WINDOWS_LOADER="$loader" TEST_WINDOWS_COMPARE="$compare"
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    set -u
    # Creates or updates the prefix and starts the session under this display; it returns
    # when the session is ready for windows.
    if ! "$TEST_WINDOWS_LOADER" wineboot --init >/dev/null 2>&1; then
        echo "test-windows: wineboot --init failed" >&2
        exit 1
    fi
    ctest --test-dir "$TEST_WINDOWS_BUILD" --output-on-failure -j 1
    status=$?
    if [ $status -eq 0 ]; then
        timeout 120 "$TEST_WINDOWS_LOADER" "$TEST_WINDOWS_BUILD/shell/kestran.exe" \
            "Z:$TEST_WINDOWS_COMPARE/windows/disc.ccd" || status=$?
    fi
    timeout 60 wineserver -w || wineserver -k
    exit $status
' || fail "the Windows tests failed"

# The tests really ran: every test program wrote its report, with tests and no failures.
count=0
for name in command_tail_test main_dialog_test program_test; do
    report="$reports/$name.xml"
    [ -f "$report" ] || fail "no report from $name"
    tests=$(sed -n 's/.*<testsuites tests="\([0-9]*\)".*/\1/p' "$report" | head -n 1)
    failures=$(sed -n 's/.*<testsuites tests="[0-9]*" failures="\([0-9]*\)".*/\1/p' "$report" | head -n 1)
    [ "${tests:-0}" -gt 0 ] || fail "$name ran no test"
    [ "${failures:-1}" -eq 0 ] || fail "$name reported failures"
    count=$((count + tests))
done

for file in disc.img disc.old; do
    cmp "$compare/linux/$file" "$compare/windows/$file" ||
        fail "kestran.exe and the Linux command line wrote different $file"
done

# kestran-cli.exe against the Linux command line, command by command (no window: after the
# session above has ended).
bash tests/windows/cli_compare.sh "$root/build/default/cli/kestran" \
    "$root/build/default/tools/make-sample-disc" "$loader" "$root/$build/cli/kestran-cli.exe" \
    "$root/$build/cli-compare" || fail "kestran-cli.exe and the Linux command line differ"
echo "test-windows: $count Windows tests passed on $build ($arch) under $loader; kestran.exe and kestran-cli.exe match the Linux output byte for byte; zip: $zip"
