#!/usr/bin/env bash
# Sets up what is missing, builds Ventrix and starts it. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVENTRIX_BUILD_TESTS=OFF -DVENTRIX_BUILD_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)"
args=()
# A machine without a display still collects events into the log file.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running without a window (-platform offscreen)."
    args=(-platform offscreen)
fi
exec build/release/bin/ventrix "${args[@]}" "$@"
