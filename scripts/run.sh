#!/usr/bin/env bash
# Sets up what is missing, builds Ventrix and starts it. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVENTRIX_BUILD_TESTS=OFF -DVENTRIX_BUILD_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)"
program=(build/release/bin/ventrix)

# A normal user receives on the default ports through authbind, as the installed package
# does: its set-uid helper allows a port below 1024 to whoever may execute the port's file
# (ports 512 to 1023 take a "!"), here root and the members of the group ventrix. Plain
# authbind, not --deep: the receivers bind inside the program, and what the window starts
# (the file opener, an editor) gets no grant.
with_group=""
if [ "$(id -u)" -ne 0 ]; then
    me=$(id -un)
    if ! getent group ventrix >/dev/null; then
        echo "Making the system group ventrix, whose members may bind UDP ports 162 and 514 (sudo)"
        sudo groupadd --system ventrix
    fi
    for file in /etc/authbind/byport/162 '/etc/authbind/byport/!514'; do
        if [ ! -e "$file" ] && [ ! -L "$file" ]; then
            echo "Letting the group ventrix bind through authbind (sudo): $file"
            port=${file##*/}
            echo "# Ventrix: who may execute this file may bind UDP port ${port#!}" | sudo tee "$file" >/dev/null
            sudo chown root:ventrix "$file"
            sudo chmod 750 "$file"
        fi
    done
    if ! getent group ventrix | cut -d: -f4 | tr , '\n' | grep -qxF "$me"; then
        echo "Adding $me to the group ventrix (sudo); other sessions have it after the next login"
        sudo usermod -aG ventrix "$me"
    fi
    # This session got its groups at login: start the program with the group at once.
    id -nG | tr ' ' '\n' | grep -qx ventrix || with_group=ventrix
    program=(authbind "${program[@]}")
fi

# QSettings reads a value as true unless it is empty, 0 or false; a key before any
# section belongs to [General].
autostart() {
    awk -F= '/^\[/ { general = ($0 ~ /^\[General\][[:space:]]*$/); next }
        general && $1 ~ /^[[:space:]]*AutoStart[[:space:]]*$/ {
            v = tolower($2); gsub(/[[:space:]"]/, "", v); on = (v != "" && v != "0" && v != "false") }
        END { exit !on }' general=1 "$1"
}

args=()
# A machine without a display still collects events into the log file, once the receivers
# start by themselves: nobody can press the start button of a window that is not shown.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running without a window (-platform offscreen)."
    args=(-platform offscreen)
    ini=${XDG_CONFIG_HOME:-$HOME/.config}/Norvane/Ventrix/Ventrix.ini
    if [ ! -e "$ini" ]; then
        mkdir -p "$(dirname "$ini")"
        printf '[General]\nAutoStart=true\n' >"$ini"
        echo "No settings yet: wrote $ini with AutoStart=true, so the receivers start at once."
    elif ! autostart "$ini"; then
        echo "AutoStart is off in $ini: nothing will be received (set AutoStart=true there)."
    fi
    echo "To keep collecting after you log out and across reboots, install Ventrix (README:" \
        "Installing) and run it as a systemd user service:" \
        "systemctl --user enable --now ventrix; sudo loginctl enable-linger $(id -un)"
fi
if [ -n "$with_group" ]; then
    # sg runs its command through sh: hand it the words quoted.
    exec sg "$with_group" -c "exec $(printf '%q ' "${program[@]}" "${args[@]}" "$@")"
fi
exec "${program[@]}" "${args[@]}" "$@"
