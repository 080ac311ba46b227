#!/usr/bin/env bash
# Builds the trap decoder's libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for a bounded time on the seed corpus.
#
#   fuzz/run.sh [SECONDS]       (default 60)
#
# Build folder: $VENTRIX_FUZZ_BUILD (default build-fuzz beside the sources).
# New interesting inputs go to a scratch folder, never into fuzz/corpus;
# a crash leaves its input in <build>/fuzz-artifacts/ and exits non-zero.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-60}
build=${VENTRIX_FUZZ_BUILD:-$root/build-fuzz}

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVENTRIX_BUILD_FUZZ=ON -DVENTRIX_BUILD_TESTS=OFF -DVENTRIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_trap_decode

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/fuzz-artifacts"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
"$build/bin/fuzz_trap_decode" \
    -max_total_time="$seconds" -max_len=65507 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/fuzz-artifacts/" -print_final_stats=1 \
    "$scratch" "$here/corpus"
