#!/bin/sh
# Builds everything and runs every test: native, under the sanitizers, the Windows build under
# Wine, and a bounded fuzzing pass.
set -eu
cd "$(dirname "$0")/.."

for preset in default sanitize; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j 2
    ctest --preset "$preset" -j 2
done
for stage in tools/test-windows.sh tools/test-fuzz.sh; do
    if [ ! -x "$stage" ]; then
        echo "test-all: $stage is not executable" >&2
        exit 1
    fi
    "$stage"
done
echo "test-all: every stage passed"
