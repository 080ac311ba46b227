#!/usr/bin/env bash
# Checks the Debian package as users meet it: lintian, the desktop entry and the metainfo;
# then, as root, installs it with apt, starts the installed launcher as an unprivileged user
# on the default ports 162 and 514, sends one syslog message and one trap, finds both lines
# in the log file, and purges the package.
#   scripts/package-check.sh [DEB]     (default: builds it with scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "${1:-$(scripts/package.sh)}")
fail() { echo "package check: FAIL: $*" >&2; exit 1; }
as_user=()
[ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)

work=$(mktemp -d)
chmod 755 "$work"
pid="" installed=""
cleanup() {
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    [ -z "$installed" ] || apt-get purge -y -qq ventrix >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

"${as_user[@]}" lintian --fail-on error "$deb" || fail "lintian reports errors"
dpkg-deb -x "$deb" "$work/tree"
desktop-file-validate "$work/tree/usr/share/applications/ventrix.desktop"
appstreamcli validate --no-net "$work/tree/usr/share/metainfo/"*.metainfo.xml >/dev/null ||
    fail "appstreamcli validate: $(appstreamcli validate --no-net "$work/tree/usr/share/metainfo/"*.metainfo.xml)"

if [ "$(id -u)" -ne 0 ]; then
    echo "package check: linted; installing, running and purging it needs root: skipped"
    exit 0
fi
if dpkg-query -W -f='${Status}' ventrix 2>/dev/null | grep -q installed; then
    echo "package check: a ventrix package is installed on this machine; left alone: skipped"
    exit 0
fi
busy=$(ss -Hulnp 'sport = :162 or sport = :514')
[ -z "$busy" ] || fail "UDP port 162 or 514 is taken already: $busy"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    fail "apt could not install it: $(cat "$work/apt.log")"
installed=1
[ "$(command -v ventrix)" = /usr/bin/ventrix ] || fail "no launcher on the PATH"

# A user who has never run it, apart from settings that start the receivers by themselves
# (there is no window to press start in).
home=$work/home
mkdir -p "$home/.config/Norvane/Ventrix" "$home/runtime"
printf '[General]\nAutoStart=true\n' >"$home/.config/Norvane/Ventrix/Ventrix.ini"
chmod 700 "$home/runtime"
chown -R nobody:nogroup "$home"
log=$home/Documents/Norvane/Ventrix/log.txt
"${as_user[@]}" env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$home/runtime" LC_ALL=C.UTF-8 \
    ventrix -platform offscreen >"$work/program.log" 2>&1 &
pid=$!

bound() { [ "$(ss -Hulnp 'sport = :162 or sport = :514' | grep -c "pid=$pid,")" -eq 2 ]; }
for _ in $(seq 100); do bound && break; sleep 0.1; done
bound || fail "the launcher, run as nobody, did not bind ports 162 and 514: $(ss -Hulnp; cat "$work/program.log")"

stamp="package check $$"
logger --udp -n 127.0.0.1 -P 514 --rfc3164 -t ventrix-check "$stamp"
snmptrap -m '' -M /nonexistent -v 2c -c public 127.0.0.1:162 4242 1.3.6.1.6.3.1.1.5.1 # coldStart
lines() { awk -F';' -v s="$stamp" '($8 == 8 && index($0, s)) || $8 == 6' "$log" 2>/dev/null | wc -l; }
for _ in $(seq 100); do [ "$(lines)" -eq 2 ] && break; sleep 0.1; done
[ "$(lines)" -eq 2 ] || fail "expected a syslog line and a start-up trap line in $log, found: $(cat "$log" 2>&1)"
kill "$pid"
wait "$pid" || true
pid=""

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ventrix >"$work/apt.log" 2>&1 || fail "purge: $(cat "$work/apt.log")"
installed=""
left=$(ls -d /opt/ventrix /usr/share/applications/ventrix.desktop /usr/bin/ventrix \
    /etc/authbind/byport/162 '/etc/authbind/byport/!514' 2>/dev/null || true)
[ -z "$left" ] || fail "left behind after purge: $left"
echo "package check: installed, received a syslog message and a trap on 162 and 514 as nobody, purged"
