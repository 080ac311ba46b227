#!/usr/bin/env bash
# Runs a test with a fresh, private HOME, XDG config and runtime folder.
set -eu
home=$1; shift
rm -rf "$home"
mkdir -p "$home/.config" "$home/runtime" "$home/Documents"
chmod 700 "$home/runtime"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/runtime"
export XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache"
exec "$@"
