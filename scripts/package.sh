#!/usr/bin/env bash
# Builds the Debian package and prints its path; install it with
#   sudo apt install ./build/package/ventrix_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --package >&2
dir=build/package
# Debian's hardening flags, as the distribution's own packages are built with.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
rm -f "$dir"/ventrix_*.deb
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DVENTRIX_BUILD_TESTS=OFF -DVENTRIX_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" >&2
cmake --build "$dir" -j"$(nproc)" >&2
(cd "$dir" && cpack -G DEB >&2)
ls "$PWD/$dir"/ventrix_*.deb
