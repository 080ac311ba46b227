#!/usr/bin/env bash
# Checks the Debian package as users meet it: lintian, the desktop entry, the metainfo and
# the user service; its build installed without root (scripts/install-check.sh, as nobody
# when run as root); then, as root, installs it with apt, adds nobody to the group ventrix,
# starts the installed launcher as nobody on the default ports 162 and 514, sends one
# syslog message and one trap, finds both lines in the log file; then takes the port
# grants through their lifecycle (narrowed, upgraded, removed, reinstalled, a missing
# folder, a dangling symlink) and purges the package.
# Exits with 77 when it may not install it (not root, or a ventrix package is installed):
# skipped, not passed.
#   scripts/package-check.sh [DEB]     (default: builds it with scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "${1:-$(scripts/package.sh)}")
fail() { echo "package check: FAIL: $*" >&2; exit 1; }
as_user=() as_member=()
if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    as_member=(setpriv --reuid=nobody --regid=nogroup --init-groups)
fi

work=$(mktemp -d)
chmod 755 "$work"
pid="" installed="" byport=/etc/authbind/byport
cleanup() {
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    [ ! -d "$byport.away" ] || mv "$byport.away" "$byport"
    [ -z "$installed" ] || apt-get purge -y -qq ventrix >/dev/null 2>&1 || true
    rm -f "$byport/162" "$byport/!514" # made or changed by this check alone: none was there
    rm -rf "$work"
}
trap cleanup EXIT

"${as_user[@]}" lintian --fail-on error "$deb" || fail "lintian reports errors"
dpkg-deb -x "$deb" "$work/tree"
desktop-file-validate "$work/tree/usr/share/applications/ventrix.desktop"
appstreamcli validate --no-net "$work/tree/usr/share/metainfo/"*.metainfo.xml >/dev/null ||
    fail "appstreamcli validate: $(appstreamcli validate --no-net "$work/tree/usr/share/metainfo/"*.metainfo.xml)"
grep -qx 'ExecStart=/usr/bin/ventrix -platform offscreen' "$work/tree/usr/lib/systemd/user/ventrix.service" ||
    fail "no user service starting /usr/bin/ventrix in /usr/lib/systemd/user"
"${as_user[@]}" scripts/install-check.sh "$(dirname "$deb")"

if [ "$(id -u)" -ne 0 ]; then
    echo "package check: linted; installing, running and purging it needs root: skipped"
    exit 77
fi
if dpkg-query -W -f='${Status}' ventrix 2>/dev/null | grep -q installed; then
    echo "package check: a ventrix package is installed on this machine; left alone: skipped"
    exit 77
fi
[ ! -e "$byport/162" ] && [ ! -e "$byport/!514" ] && [ ! -L "$byport/!514" ] ||
    fail "port files for 162 or 514 exist already in $byport: not ours to take through the lifecycle"
busy=$(ss -Hulnp 'sport = :162 or sport = :514')
[ -z "$busy" ] || fail "UDP port 162 or 514 is taken already: $busy"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    fail "apt could not install it: $(cat "$work/apt.log")"
installed=1
[ "$(command -v ventrix)" = /usr/bin/ventrix ] || fail "no launcher on the PATH"
grep -q 'authbind --deep' /usr/bin/ventrix && fail "the launcher hands the port grant to every program it starts (--deep)"
# What the grant files are: only the group may bind, and the package takes its own back.
grants() {
    for f in 162 '!514'; do
        if [ -L "$byport/$f" ]; then echo "$f symlink"
        elif [ -e "$byport/$f" ]; then stat -c "$f %U:%G %a" "$byport/$f"
        else echo "$f missing"; fi
    done | paste -sd' '
}
expect_grants() { # WHAT EXPECTED
    [ "$(grants)" = "$2" ] || fail "$1: the port files are '$(grants)', expected '$2'"
}
expect_grants "installed" "162 root:ventrix 750 !514 root:ventrix 750"
adduser --quiet nobody ventrix

# A user who has never run it, apart from settings that start the receivers by themselves
# (there is no window to press start in).
home=$work/home
mkdir -p "$home/.config/Norvane/Ventrix" "$home/runtime"
printf '[General]\nAutoStart=true\n' >"$home/.config/Norvane/Ventrix/Ventrix.ini"
chmod 700 "$home/runtime"
chown -R nobody:nogroup "$home"
log=$home/Documents/Norvane/Ventrix/log.txt
"${as_member[@]}" env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$home/runtime" LC_ALL=C.UTF-8 \
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
# An account outside the group gets neither port.
"${as_user[@]}" authbind python3 -c 'import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).bind(("", 162))' \
    2>/dev/null && fail "an account outside the group ventrix may bind port 162"

# The administrator narrows one grant and deletes the other: neither comes back, through an
# upgrade, a removal (which takes back only what is as the package made it) and a
# reinstallation. What a removal took back, a reinstallation makes again.
pkg() { # COMMAND...
    DEBIAN_FRONTEND=noninteractive "$@" >"$work/apt.log" 2>&1 || fail "$*: $(cat "$work/apt.log")"
}
chmod 700 "$byport/162"
rm "$byport/!514"
for step in "dpkg -i $deb" "dpkg -r ventrix" "dpkg -i $deb"; do
    pkg $step
    expect_grants "$step after narrowing" "162 root:ventrix 700 !514 missing"
done
chmod 750 "$byport/162"
pkg dpkg -r ventrix
expect_grants "removed" "162 missing !514 missing"
pkg dpkg -i "$deb"
expect_grants "reinstalled" "162 root:ventrix 750 !514 missing"
# A first installation follows no dangling symlink in a name, and fails not without the folder.
pkg dpkg -P ventrix
ln -s "$work/planted" "$byport/!514"
pkg dpkg -i "$deb"
[ ! -e "$work/planted" ] || fail "the package wrote through a dangling symlink"
expect_grants "installed beside a dangling symlink" "162 root:ventrix 750 !514 symlink"
rm "$byport/!514"
pkg dpkg -P ventrix
mv "$byport" "$byport.away"
pkg dpkg -i "$deb"
pkg dpkg -r ventrix
[ ! -e "$byport" ] || fail "the package made $byport"
mv "$byport.away" "$byport"

pkg apt-get purge -y -qq ventrix
installed=""
left=$(ls -d /usr/lib/ventrix /usr/lib/systemd/user/ventrix.service /usr/share/applications/ventrix.desktop \
    /usr/bin/ventrix /var/lib/ventrix \
    "$byport/162" "$byport/!514" 2>/dev/null || true)
[ -z "$left" ] || fail "left behind after purge: $left"
! getent group ventrix >/dev/null || fail "the group ventrix is left behind after purge"
echo "package check: installed, received a syslog message and a trap on 162 and 514 as a member of the group" \
    "ventrix, kept the grants through narrowing, upgrade, removal, reinstallation, a dangling symlink and a" \
    "missing folder, purged"
