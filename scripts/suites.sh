#!/usr/bin/env bash
# Builds and runs the suites as the user who runs it (scripts/test.sh, started as root,
# runs it as nobody): a normal build with warnings as errors, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, the trap decoder's fuzzer, then the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# ctest counts a skipped suite as no failure: here only the cases that scripts/test.sh
# runs as root may skip.
no_skips() { # build dir
    local skipped
    skipped=$(grep -h '^SKIP   :' "$1/Testing/Temporary/LastTest.log" | grep -v 'runs this as root' || true)
    [ -z "$skipped" ] || { printf 'skipped, but meant to run here:\n%s\n' "$skipped"; return 1; }
}
build() { # dir, cmake options...
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja -DVENTRIX_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The fault scenarios (label faults) run here, the hostile-input ones under the sanitizers.
ctest --test-dir build/test --output-on-failure -j"$jobs" -LE hostile
no_skips build/test

build build/asan -DCMAKE_BUILD_TYPE=Debug -DVENTRIX_SANITIZE=ON -DVENTRIX_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
    ctest --test-dir build/asan --output-on-failure -j"$jobs" -LE faults
no_skips build/asan

if [ -x fuzz/run.sh ]; then
    VENTRIX_FUZZ_BUILD=$PWD/build/fuzz fuzz/run.sh 60
fi

scripts/package.sh >/dev/null
