#!/bin/sh
# Installs what building and testing need on Debian 12 (run as root, or through sudo).
set -eu
if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    build-essential cmake ninja-build clang libclang-rt-14-dev clang-format \
    googletest libgtest-dev libbenchmark-dev \
    g++-mingw-w64-i686 wine wine32:i386 xvfb xauth x11-utils xdotool imagemagick \
    g++-mingw-w64-x86-64-posix wine64 \
    libexpat1-dev zlib1g-dev libgcrypt20-dev libssl-dev nlohmann-json3-dev \
    libz-mingw-w64-dev libgcrypt-mingw-w64-dev \
    xfsprogs btrfs-progs e2fsprogs \
    python3 >/dev/null
