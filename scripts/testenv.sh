#!/usr/bin/env bash
# Runs a test with a fresh, private HOME, XDG config and runtime folder. A suite that
# passes with a case skipped exits with 77, which ctest reports as skipped, not passed.
set -euo pipefail
home=$1; shift
rm -rf "$home"
mkdir -p "$home/.config" "$home/runtime" "$home/Documents"
chmod 700 "$home/runtime"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/runtime"
export XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$@" | tee "$out"
if grep -q '^SKIP   :' "$out"; then
    echo "skipped: $(basename "$1") ${*:2}"
    exit 77
fi
