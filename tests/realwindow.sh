#!/usr/bin/env bash
# The program in a real X window, as a person uses it: a tray host, a window manager,
# a balloon, minimise to the tray, restore with a click, the close question, the settings
# dialog, and Exit from the tray menu. Takes screenshots into $SHOTS (default: a temporary
# folder) so that they can be looked at.
#   realwindow.sh PATH/TO/ventrix
set -euo pipefail
app=$1
work=$(mktemp -d)
shots=${SHOTS:-$work/shots}
mkdir -p "$shots" "$work/home/.config/Norvane/Ventrix" "$work/home/rt"
chmod 700 "$work/home/rt"
pids=()
cleanup() {
    # The program first: dbus-run-session then ends its bus, which outlives it when it is
    # killed itself.
    [ -n "${app_pid:-}" ] && pkill -P "$app_pid" 2>/dev/null
    sleep 0.2
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work/home"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; xwininfo -root -tree 2>/dev/null | grep -i ventrix || true; exit 1; }
step() { echo "-- $*"; }

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
syslog_port=$(free_port)
snmp_port=$(free_port)

source "$(dirname "$0")/../scripts/desktop.sh"
start_display "$work" || fail "Xvfb did not start"
pids+=("$display_pid")
start_desktop "$work"
pids+=("${desktop_pids[@]}")

cat > "$work/home/.config/Norvane/Ventrix/Ventrix.ini" <<INI
[General]
AutoStart=true
SnmpPort=$snmp_port
SyslogPort=$syslog_port
BalloonEnable=true
DataDir=$work/home/data
INI

step "start the program"
HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/home/rt QT_QPA_PLATFORM=xcb \
    dbus-run-session -- "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
window=$(timeout 10 xdotool search --sync --name '^Ventrix 1\.0\.1') || fail "no main window"
window=$(echo "$window" | head -1)

mapped() { xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }
listed() { xprop -root _NET_CLIENT_LIST | grep -qi "$(printf '0x%x' "$1")"; }
wait_for() { # seconds, command...
    local t=$1; shift
    for _ in $(seq $((t * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}
icon_embedded() { [ -n "$(tray_icon_center)" ]; }

wait_for 10 icon_embedded || fail "the tray icon was not embedded"
read -r icon_x icon_y < <(tray_icon_center)

step "events arrive and raise a balloon"
dev=1.3.6.1.4.1.32473.1
trap() { snmptrap -m '' -M /nonexistent -v 2c -c public "127.0.0.1:$snmp_port" 4242 "$@" >/dev/null 2>&1 || true; }
sleep 0.5
trap $dev.0.2 $dev.1.1.0 s pump-7 $dev.1.2.0 x 001122AABBCC $dev.1.3.0 u 2 $dev.1.4.0 s "Water temperature" \
    $dev.1.7.0 i 235 $dev.1.8.0 s C $dev.1.6.0 s normal
trap $dev.0.1 $dev.1.1.0 s pump-7 $dev.1.2.0 x 001122AABBCC $dev.1.3.0 u 1 $dev.1.4.0 s Door \
    $dev.1.5.0 s open $dev.1.6.0 s alarm
trap $dev.0.3 $dev.1.1.0 s pump-7 $dev.1.2.0 x 001122AABBCC $dev.1.3.0 u 1 $dev.1.9.0 s inputStateAlarm \
    $dev.1.10.0 i 3 $dev.1.11.0 u 17
for _ in 1 2 3; do
    printf '<13>Dec  8 10:00:00 pump-7 door: opened' >/dev/udp/127.0.0.1/"$syslog_port"
    sleep 0.3
done
balloon() { xwininfo -root -tree | grep -q '"Syslog message recieved"\|QBalloonTip' || \
    [ "$(xdotool search --onlyvisible --class ventrix 2>/dev/null | wc -l)" -gt 2 ]; }
wait_for 5 balloon || fail "no balloon appeared"
wait_for 5 grep -q 'door: opened' "$work/home/data/log.txt" || fail "the event is not in the log file"
snap() { import -window root "$shots/$1.png" && convert "$shots/$1.png" -fuzz 2% -trim +repage "$shots/$1.png"; }
snap main-window

step "minimise: the window leaves for the tray"
xdotool windowminimize "$window"
wait_for 3 bash -c "! xwininfo -id $window | grep -q IsViewable" || fail "the minimised window stayed mapped"
wait_for 3 bash -c "! xprop -root _NET_CLIENT_LIST | grep -qi $(printf '0x%x' "$window")" ||
    fail "the minimised window is still in the task list"

step "a click on the tray icon brings it back"
xdotool mousemove "$icon_x" "$icon_y" click 1
wait_for 3 mapped "$window" || fail "the window did not come back"
wait_for 3 listed "$window" || fail "the window is not back in the task list"

step "closing asks; Escape minimises to the tray"
xdotool windowactivate --sync "$window" key alt+F4
question=$(timeout 5 xdotool search --sync --name '^Exit Ventrix$') || fail "no close question"
sleep 0.3
snap close-question
xdotool key Escape
wait_for 3 bash -c "! xwininfo -id $window | grep -q IsViewable" || fail "Escape did not send the window to the tray"
kill -0 "$app_pid" || fail "the program ended on Escape"

step "the settings dialog"
xdotool mousemove "$icon_x" "$icon_y" click 1
wait_for 3 mapped "$window" || fail "the window did not come back"
xdotool windowactivate --sync "$window" key alt+f
sleep 0.3
xdotool key s
timeout 5 xdotool search --sync --name '^Settings$' >/dev/null || fail "no settings dialog"
sleep 0.3
snap settings
xdotool key Escape
sleep 0.3

step "Exit in the tray menu ends the program without a question"
xdotool mousemove "$icon_x" "$icon_y" click 3
sleep 0.5
snap tray-menu
xdotool key e
wait_for 5 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end"
xdotool search --name '^Exit Ventrix$' >/dev/null 2>&1 && fail "a close question appeared"
wait "$app_pid" || fail "the program's exit code was not 0"
echo "screenshots in $shots"
echo "realwindow: all steps passed"
