#!/usr/bin/env bash
# Sets up what is missing, then builds and runs the whole test suite twice: a normal build
# with warnings as errors, and an AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --test
jobs=$(nproc)

scripts/format.sh --check

build() { # dir, cmake options...
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja -DVENTRIX_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The fault scenarios (label faults) run here, the hostile-input ones under the sanitizers.
ctest --test-dir build/test --output-on-failure -j"$jobs" -LE hostile

build build/asan -DCMAKE_BUILD_TYPE=Debug -DVENTRIX_SANITIZE=ON -DVENTRIX_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
    ctest --test-dir build/asan --output-on-failure -j"$jobs" -LE faults

if [ -x fuzz/run.sh ]; then
    VENTRIX_FUZZ_BUILD=$PWD/build/fuzz fuzz/run.sh 60
fi
