#!/bin/sh
# Builds kestran, makes a sample mixed-mode disc in sample/ and shifts it by the default -30.
set -eu
cd "$(dirname "$0")/.."

if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! command -v g++ >/dev/null; then
    echo "== installing the build tools (cmake, ninja, g++)"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
        cmake ninja-build g++ libgtest-dev >/dev/null
fi

echo "== building"
cmake --preset default >/dev/null
cmake --build --preset default --target kestran_cli make-sample-disc

echo "== making a sample disc"
rm -rf sample
mkdir -p sample
build/default/tools/make-sample-disc sample/sample.ccd
cp sample/sample.img sample/before.img

echo "== shifting it by -30 samples"
build/default/cli/kestran sample/sample.ccd

echo "== the data track is unchanged, the audio moved 120 bytes toward the start:"
data=$((1200 * 2352))
cmp -n "$data" sample/before.img sample/sample.img && echo "   data track: identical"
cmp -s -i "$((data + 120)):$data" -n "$((4650 * 2352 - 120))" sample/before.img sample/sample.img \
    && echo "   audio: byte N of the new image is byte N+120 of the old one"
