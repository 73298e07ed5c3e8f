#!/bin/sh
# Builds kestran without the tests (they need GoogleTest and more, which tools/install-deps.sh
# installs), makes a sample mixed-mode disc in sample/ and shifts it by the default -30.
set -eu
cd "$(dirname "$0")/.."

# What building the program needs, as Debian packages.
missing=""
for package in cmake ninja-build g++ libexpat1-dev zlib1g-dev libgcrypt20-dev; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $package"
    fi
done
if [ -n "$missing" ]; then
    echo "== installing what the build needs:$missing"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
        $missing >/dev/null
fi

echo "== building"
cmake -S . -B build/quickstart -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRAN_TESTS=OFF >/dev/null
cmake --build build/quickstart --target kestran_cli make-sample-disc

echo "== making a sample disc"
rm -rf sample
mkdir -p sample
build/quickstart/tools/make-sample-disc sample/sample.ccd
cp sample/sample.img sample/before.img

echo "== shifting it by -30 samples"
build/quickstart/cli/kestran sample/sample.ccd

echo "== the data track is unchanged, the audio moved 120 bytes toward the start:"
data=$((1200 * 2352))
cmp -n "$data" sample/before.img sample/sample.img && echo "   data track: identical"
cmp -s -i "$((data + 120)):$data" -n "$((4650 * 2352 - 120))" sample/before.img sample/sample.img \
    && echo "   audio: byte N of the new image is byte N+120 of the old one"
