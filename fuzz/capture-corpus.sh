#!/usr/bin/env bash
# Regenerates the seed corpus: real datagrams from snmptrap and snmpinform
# (Debian package snmp), caught on a loopback socket, one file each.
#
#   fuzz/capture-corpus.sh      (writes fuzz/corpus/*.snmp)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
mibs=$(dirname "$here")/mibs
out=$here/corpus
mkdir -p "$out"
persistent=$(mktemp -d)
trap 'rm -rf "$persistent"' EXIT
export SNMP_PERSISTENT_DIR=$persistent

dev=(nmDeviceName.0 s "Rack A" nmDeviceMac.0 x 001A2B3C4D5E)
binary=("${dev[@]}" nmChannelIndex.0 u 3 nmChannelName.0 s Door nmInputValue.0 s open nmChannelState.0 s alarm)
sensor=("${dev[@]}" nmChannelIndex u 2 nmChannelName s Temperature nmSensorValue i -215 nmSensorUnit s C
        nmChannelState s normal)
alarm=("${dev[@]}" nmChannelIndex.0 u 7 nmAlarmName.0 s temperatureOutOfRange nmAlarmState.0 i 3 nmAlarmId.0 u 42)
nm=NORVANE-MONITOR-MIB::norvaneMonitor

# capture NAME COMMAND ARGS... (the word TARGET stands for the listening address)
capture() {
    local name=$1
    shift
    python3 - "$out/$name.snmp" "$@" <<'PY'
import socket, subprocess, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
s.settimeout(5)
target = "127.0.0.1:%d" % s.getsockname()[1]
args = [target if a == "TARGET" else a for a in sys.argv[2:]]
proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
data = s.recv(65535)
proc.kill()
proc.wait()
open(sys.argv[1], "wb").write(data)
PY
}

t=(snmptrap -M "$mibs" -m ALL)
capture v2c-binary-input "${t[@]}" -v 2c -c public TARGET 1234 NORVANE-MONITOR-MIB::nmBinaryInputChange "${binary[@]}"
capture v2c-sensor "${t[@]}" -v 2c -c public TARGET 1234 NORVANE-MONITOR-MIB::nmSensorChange "${sensor[@]}"
capture v2c-alarm "${t[@]}" -v 2c -c public TARGET 1234 NORVANE-MONITOR-MIB::nmAlarm "${alarm[@]}"
capture v2c-coldstart "${t[@]}" -v 2c -c public TARGET 1234 SNMPv2-MIB::coldStart
capture v2c-linkup "${t[@]}" -v 2c -c public TARGET 1234 IF-MIB::linkUp ifIndex.4 i 4
capture v2c-linkdown "${t[@]}" -v 2c -c private TARGET 1234 IF-MIB::linkDown ifIndex.4 i 4
capture v2c-other-enterprise "${t[@]}" -v 2c -c public TARGET 1234 1.3.6.1.4.1.9999.0.5 1.3.6.1.4.1.9999.1 s hello
capture v1-binary-input "${t[@]}" -v 1 -c public TARGET $nm 10.1.2.3 6 1 1234 "${binary[@]}"
capture v1-sensor "${t[@]}" -v 1 -c public TARGET $nm 10.1.2.3 6 2 1234 "${sensor[@]}"
capture v1-alarm "${t[@]}" -v 1 -c public TARGET $nm 10.1.2.3 6 3 1234 "${alarm[@]}"
capture v1-warmstart "${t[@]}" -v 1 -c public TARGET $nm 10.1.2.3 1 0 1234
capture v1-linkup "${t[@]}" -v 1 -c public TARGET $nm 10.1.2.3 3 0 1234 ifIndex.4 i 4
capture v1-other-enterprise "${t[@]}" -v 1 -c public TARGET 1.3.6.1.4.1.9999 10.1.2.3 6 5 1234
capture v3-coldstart "${t[@]}" -v 3 -u operator -l noAuthNoPriv -e 0x8000000001020304 TARGET 1234 SNMPv2-MIB::coldStart
capture v2c-inform-alarm snmpinform -M "$mibs" -m ALL -v 2c -c public -t 5 -r 0 TARGET 1234 NORVANE-MONITOR-MIB::nmAlarm "${alarm[@]}"
ls -l "$out"
