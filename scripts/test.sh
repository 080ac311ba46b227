#!/usr/bin/env bash
# Sets up what is missing, then builds and runs the whole test suite (scripts/suites.sh)
# and checks the Debian package (scripts/package-check.sh). Started as root, as CI does,
# it runs the builds and suites as the unprivileged user nobody, as users run the program,
# and only what needs root as root.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --test
scripts/format.sh --check

if [ "$(id -u)" -ne 0 ]; then
    scripts/suites.sh
    scripts/package-check.sh build/package/ventrix_*.deb || [ $? -eq 77 ] # installing it needs root
    exit
fi

as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
if ! "${as_nobody[@]}" test -r "$PWD/CMakeLists.txt"; then
    copy=$(mktemp -d /tmp/ventrix-test.XXXXXX)
    trap 'rm -rf "$copy"' EXIT
    echo "nobody cannot read $PWD: testing a copy in $copy"
    tar --exclude=./build -cf - . | tar -xf - -C "$copy"
    chmod 755 "$copy"
    cd "$copy"
fi
mkdir -p build/home
chown -R nobody:nogroup build
# net-snmp's clients keep their state in a folder of their own, not in root's /var/lib/snmp.
"${as_nobody[@]}" env -u XDG_RUNTIME_DIR HOME="$PWD/build/home" SNMP_PERSISTENT_DIR="$PWD/build/home/snmp" \
    scripts/suites.sh

# Mounting a small tmpfs as the data folder, and files of another account, need root
# (a case that skips here ends the run: scripts/testenv.sh exits with 77).
home=$(mktemp -d)
QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 scripts/testenv.sh "$home/home" build/test/bin/tst_faults fullDisk
QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 scripts/testenv.sh "$home/home" build/test/bin/tst_logwriter hostileDataFolder
rm -rf "$home"

scripts/package-check.sh build/package/ventrix_*.deb
