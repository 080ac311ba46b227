#!/usr/bin/env bash
# Installs a build as a user without root does, into ~/.local of a home of its own, and runs
# the installed program there: every file lands under the prefix, the launcher starts the
# program without a display, which prints only what is a real problem (a runtime folder
# that others may read, here on purpose), and a syslog datagram reaches the log file. A
# staged install (DESTDIR) writes only below its staging folder, with the paths of the
# final prefix in the files; the user service passes systemd-analyze verify where systemd
# is installed. scripts/package-check.sh runs it as nobody.
#   scripts/install-check.sh BUILD-DIR
set -euo pipefail
build=$(realpath "$1")
fail() { echo "install check: FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
pid=""
cleanup() {
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
home=$work/home prefix=$work/home/.local

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "$(cat "$work/install.log")"
outside=$(grep -v "^$prefix/" "$build/install_manifest.txt" || true)
[ -z "$outside" ] || fail "installed outside $prefix: $outside"
grep -qx "Exec=$prefix/bin/ventrix" "$prefix/share/applications/ventrix.desktop" ||
    fail "the menu entry does not start $prefix/bin/ventrix"

DESTDIR=$work/stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || fail "$(cat "$work/install.log")"
[ "$(find "$work/stage" -type f | wc -l)" -eq "$(wc -l <"$build/install_manifest.txt")" ] ||
    fail "the staged files are not those installed: $(find "$work/stage" -type f)"
grep -qx "ExecStart=/usr/bin/ventrix -platform offscreen" "$work/stage/usr/lib/systemd/user/ventrix.service" ||
    fail "the staged user service does not start /usr/bin/ventrix"

if command -v systemd-analyze >/dev/null; then
    # It checks that the command exists, and reports a bad setting only in what it prints.
    mkdir -m 700 "$work/systemd"
    verified=$(XDG_RUNTIME_DIR=$work/systemd HOME=$home systemd-analyze --user --man=no verify \
        "$prefix/share/systemd/user/ventrix.service" 2>&1) && [ -z "$verified" ] ||
        fail "systemd-analyze verify: $verified"
fi

port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$home/.config/Norvane/Ventrix" "$home/runtime"
printf '[General]\nAutoStart=true\nSnmpEnable=false\nSyslogPort=%s\n' "$port" >"$home/.config/Norvane/Ventrix/Ventrix.ini"
chmod 755 "$home/runtime"
env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/runtime" LC_ALL=C.UTF-8 \
    "$prefix/bin/ventrix" -platform offscreen >"$work/program.log" 2>&1 &
pid=$!
log=$home/Documents/Norvane/Ventrix/log.txt
stamp="install check $$"
for _ in $(seq 50); do
    logger --udp -n 127.0.0.1 -P "$port" --rfc3164 -t ventrix-check "$stamp"
    grep -qF "$stamp" "$log" 2>/dev/null && break
    sleep 0.2
done
grep -qF "$stamp" "$log" 2>/dev/null || fail "no syslog line in $log: $(cat "$work/program.log")"
kill "$pid"
wait "$pid" || fail "the program's exit code on SIGTERM was not 0"
pid=""
[ "$(cat "$work/program.log")" = "QStandardPaths: wrong permissions on runtime directory $home/runtime, 0755 instead of 0700" ] ||
    fail "the program without a display printed other than the runtime folder's warning: $(cat "$work/program.log")"
echo "install check: installed into $prefix and staged under DESTDIR without root; the installed program" \
    "received a syslog datagram; it printed only the real warning${verified+; the user service verified}"
