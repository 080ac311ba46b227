#!/usr/bin/env bash
# Installs the Debian packages Ventrix needs, only those missing.
#   scripts/setup.sh            what building and running needs (authbind: ports 162 and 514)
#   scripts/setup.sh --package  also what building the Debian package needs
#   scripts/setup.sh --test     also what the test suite and the benchmarks need
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libsnmp-dev authbind)
case "${1:-}" in --package | --test) packages+=(dpkg-dev) ;; esac
if [ "${1:-}" = "--test" ]; then
    # Real clients (snmptrap, snmpinform, logger), a display with a tray host and a
    # window manager for the real-window checks, and clang for the fuzzer.
    packages+=(snmp bsdutils util-linux xvfb xauth trayer openbox x11-utils xdotool xclip imagemagick
        dbus clang libclang-rt-14-dev clang-format python3 procps mount bc)
    # A Wayland session for the same checks: a compositor with XWayland, Qt's Wayland
    # platform, and D-Bus for python for a stand-in tray host.
    packages+=(weston xwayland qt6-wayland python3-dbus python3-gi)
    # The package's checks, and a log shipper that follows the log file. Debian's rsyslog
    # configuration listens on no network port; the test runs an rsyslogd of its own.
    packages+=(lintian desktop-file-utils appstream rsyslog iproute2)
    # systemd-analyze, for the user service (a container's Debian has no systemd).
    packages+=(systemd)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
