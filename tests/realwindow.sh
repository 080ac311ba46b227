#!/usr/bin/env bash
# The program in a real X window, as a person uses it: a tray host, a window manager,
# a balloon, finding text in the view, minimise to the tray, restore with a click, the close question, the settings
# dialog, and Exit from the tray menu; then, with the tray host gone, a minimise that stays
# on the task bar and Exit in the close question. Takes screenshots into $SHOTS (default: a
# temporary folder) so that they can be looked at. Everything it starts ends with it.
#   realwindow.sh PATH/TO/ventrix
set -euo pipefail
app=$1
work=$(mktemp -d)
shots=${SHOTS:-$work/shots}
mkdir -p "$shots" "$work/home/.config/Norvane/Ventrix" "$work/home/rt" "$work/ob"
chmod 700 "$work/home/rt"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work/home"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    xwininfo -root -tree 2>/dev/null | grep -i ventrix || true
    [ -n "${window:-}" ] && printf "window %x\n" "$window" && xprop -id "$window" WM_STATE _NET_WM_STATE 2>/dev/null
    printf 'focus %x, active %x\n' "$(xdotool getwindowfocus 2>/dev/null)" "$(xdotool getactivewindow 2>/dev/null)"
    exit 1
}
step() { echo "-- $*"; }

mapped() { xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }
listed() { xprop -root _NET_CLIENT_LIST | grep -qi "$(printf '0x%x' "$1")"; }
# The window manager has let go of a hidden window; one shown again before that may
# never be managed again, which no person clicking could bring about.
managed() { listed "$1" && xprop -id "$1" WM_STATE 2>/dev/null | grep -q 'window state: Normal'; }
withdrawn() { ! listed "$1" && ! xprop -id "$1" WM_STATE 2>/dev/null | grep -q 'window state'; }
wait_for() { # seconds, command...
    local t=$1; shift
    for _ in $(seq $((t * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}
free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
syslog_port=$(free_port)
snmp_port=$(free_port)

# Our own display; -displayfd tells which number it took.
exec 3< <(exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
pids+=($!)
read -r -t 10 display <&3 || fail "Xvfb did not start"
export DISPLAY=":$display"
# And our own session bus, which ends with the script (dbus-run-session would leave its
# daemon running when it is killed).
exec 4< <(exec dbus-daemon --session --nofork --print-address 2>/dev/null)
pids+=($!)
read -r -t 10 bus <&4 || fail "dbus-daemon did not start"
cat > "$work/ob/rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc"><focus><focusNew>yes</focusNew></focus><desktops><number>1</number></desktops></openbox_config>
XML
# A window mapped before the window manager has taken over the screen may never be
# managed: wait for each helper to be ready instead of sleeping.
openbox --config-file "$work/ob/rc.xml" >/dev/null 2>&1 & pids+=($!)
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_for 10 wm_ready || fail "openbox did not start"
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
trayer_pid=$!
pids+=($trayer_pid)
panel_managed() { # openbox has taken trayer's panel: both run their event loops
    local panel
    panel=$(xdotool search --classname '^panel$' 2>/dev/null | head -1)
    [ -n "$panel" ] && listed "$panel"
}
wait_for 10 panel_managed || fail "trayer did not start"

cat > "$work/home/.config/Norvane/Ventrix/Ventrix.ini" <<INI
[General]
AutoStart=true
SnmpPort=$snmp_port
SyslogPort=$syslog_port
BalloonEnable=true
DataDir=$work/home/data
INI

start_program() {
    HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/home/rt QT_QPA_PLATFORM=xcb \
        DBUS_SESSION_BUS_ADDRESS=$bus "$app" >>"$work/app.log" 2>&1 &
    app_pid=$!
    pids+=($app_pid)
    # The tray icon's window can carry the same name for a moment: the main window is
    # the one the window manager takes.
    wait_for 10 find_main_window || fail "no main window"
}
find_main_window() {
    local w
    for w in $(xdotool search --pid "$app_pid" --name '^Ventrix 1\.0\.1' 2>/dev/null); do
        managed "$w" && window=$w && return 0
    done
    return 1
}

step "start the program"
start_program

tray_icon_center() { # the program's 22x22 icon embedded in the tray host
    xwininfo -root -tree | awk '/\("ventrix"/ && / 2[0-9]x2[0-9]\+/ {split($NF, a, "+"); print a[2] + 11, a[3] + 11; exit}'
}
icon_embedded() { [ -n "$(tray_icon_center)" ]; }
# A key reaches the window that holds the input focus, and an active window need not
# hold it: a click on the tray host can leave the focus there.
focused() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ] && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
focus() {
    for _ in 1 2 3 4 5; do
        xdotool windowactivate "$1" windowfocus "$1" 2>/dev/null || true
        wait_for 1 focused "$1" && return 0
    done
    fail "window $1 did not get the focus"
}

wait_for 10 icon_embedded || fail "the tray icon was not embedded"
read -r icon_x icon_y < <(tray_icon_center)

step "events arrive and raise a balloon"
# Traps that come before the receiver has confirmed its start wait: a bound port is enough.
bound() { ss -Hlun "sport = :$1" | grep -q .; }
wait_for 5 bound "$snmp_port" && wait_for 5 bound "$syslog_port" || fail "the receivers did not bind their ports"
dev=1.3.6.1.4.1.32473.1
send_trap() { snmptrap -m '' -M /nonexistent -v 2c -c public "127.0.0.1:$snmp_port" 4242 "$@"; }
send_trap $dev.0.2 $dev.1.1.0 s pump-7 $dev.1.2.0 x 001122AABBCC $dev.1.3.0 u 2 $dev.1.4.0 s "Water temperature" \
    $dev.1.7.0 i 235 $dev.1.8.0 s C $dev.1.6.0 s normal
send_trap $dev.0.1 $dev.1.1.0 s pump-7 $dev.1.2.0 x 001122AABBCC $dev.1.3.0 u 1 $dev.1.4.0 s Door \
    $dev.1.5.0 s open $dev.1.6.0 s alarm
send_trap $dev.0.3 $dev.1.1.0 s pump-7 $dev.1.2.0 x 001122AABBCC $dev.1.3.0 u 1 $dev.1.9.0 s inputStateAlarm \
    $dev.1.10.0 i 3 $dev.1.11.0 u 17
for _ in 1 2 3; do
    printf '<13>Dec  8 10:00:00 pump-7 door: opened' >/dev/udp/127.0.0.1/"$syslog_port"
    sleep 0.3
done
balloon() { xwininfo -root -tree | grep -q '"Syslog message recieved"' || \
    [ "$(xdotool search --onlyvisible --class ventrix 2>/dev/null | wc -l)" -gt 2 ]; }
wait_for 5 balloon || fail "no balloon appeared"
log=$work/home/data/log.txt
wait_for 5 grep -q 'door: opened' "$log" || fail "the syslog message is not in the log file"
traps_logged() { [ "$(grep -c ';4242;.*SNMP trap' "$log")" -eq 3 ]; }
wait_for 5 traps_logged || fail "the three traps are not in the log file: $(cat "$log")"
snap() { import -window root "$shots/$1.png" && convert "$shots/$1.png" -fuzz 2% -trim +repage "$shots/$1.png"; }
snap main-window

step "Ctrl+F finds text in the view; Escape leaves the match selected for Ctrl+C"
focus "$window"
xdotool key ctrl+f
sleep 0.3
xdotool type --delay 30 "WATER temp"
xdotool key Return
sleep 0.5
snap find
xdotool key Escape
sleep 0.3
xdotool key ctrl+c
copied=$(timeout 5 xclip -o -selection clipboard) || fail "the clipboard could not be read"
[ "$copied" = "Water temp" ] || fail "Ctrl+C copied \"$copied\" instead of the match"

step "a burst, then Stop clicked at once: every datagram in the log, in order, none after"
flood=$(dirname "$0")/../bench/flood.py
eval "$(xdotool getwindowgeometry --shell "$window")"
python3 "$flood" syslog "$syslog_port" 20000 --rate 100000 --tag burst >/dev/null
xdotool mousemove $((X + 27)) $((Y + 18)) click 1 # the tool bar's start/stop button
python3 "$flood" syslog "$syslog_port" 10 --tag late >/dev/null
burst_stored() { python3 "$flood" check "$work/home/data/log.txt" --tag burst --count 20000 | grep -q ' lost=0 '; }
wait_for 10 burst_stored || fail "after Stop: $(python3 "$flood" check "$work/home/data/log.txt" --tag burst --count 20000)"
sleep 0.5
grep -q late- "$work/home/data/log.txt" && fail "a datagram sent after Stop was taken"

step "minimise: the window leaves for the tray"
xdotool windowminimize "$window"
wait_for 3 bash -c "! xwininfo -id $window | grep -q IsViewable" || fail "the minimised window stayed mapped"
wait_for 3 withdrawn "$window" || fail "the minimised window is still in the task list"

step "a click on the tray icon brings it back"
xdotool mousemove "$icon_x" "$icon_y" click 1
wait_for 3 mapped "$window" || fail "the window did not come back"
wait_for 3 listed "$window" || fail "the window is not back in the task list"

step "closing asks; Escape minimises to the tray"
focus "$window"
xdotool key alt+F4
question=$(timeout 5 xdotool search --sync --name '^Exit Ventrix$') || fail "no close question"
focus "$question"
sleep 0.3
snap close-question
xdotool key Escape
wait_for 3 bash -c "! xwininfo -id $window | grep -q IsViewable" || fail "Escape did not send the window to the tray"
wait_for 3 withdrawn "$window" || fail "the window in the tray is still in the task list"
kill -0 "$app_pid" || fail "the program ended on Escape"

step "the settings dialog"
xdotool mousemove "$icon_x" "$icon_y" click 1
wait_for 3 mapped "$window" || fail "the window did not come back"
focus "$window"
menu_open() { # a window of the program straight on the root window, and no tool tip
    for w in $(xwininfo -root -children | awk '/\("ventrix"/ {print $1}'); do
        mapped "$w" && ! xprop -id "$w" _NET_WM_WINDOW_TYPE | grep -q TOOLTIP && return 0
    done
    return 1
}
xdotool key alt+f
wait_for 3 menu_open || fail "alt+f did not open the File menu"
xdotool key s
dialog=$(timeout 5 xdotool search --sync --name '^Settings$') || fail "no settings dialog"
focus "$dialog"
snap settings
xdotool key Escape
wait_for 3 bash -c "! xdotool search --onlyvisible --name '^Settings\$'" || fail "Escape did not close the settings"

step "Exit in the tray menu ends the program without a question"
xdotool mousemove "$icon_x" "$icon_y" click 3
wait_for 3 menu_open || fail "no tray menu"
snap tray-menu
xdotool key e
wait_for 5 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end"
xdotool search --name '^Exit Ventrix$' >/dev/null 2>&1 && fail "a close question appeared"
wait "$app_pid" || fail "the program's exit code was not 0"

step "without a tray a minimised window stays on the task bar"
kill "$trayer_pid"
wait "$trayer_pid" 2>/dev/null || true
start_program
wait_for 5 mapped "$window" || fail "the window did not appear"
xdotool windowminimize "$window"
iconified() { xprop -id "$1" WM_STATE | grep -q 'Iconic'; }
wait_for 3 iconified "$window" || fail "the window was not minimised"
sleep 0.5
iconified "$window" || fail "the minimised window did not stay minimised"
listed "$window" || fail "the minimised window left the task list with no tray to go to"

step "Exit in the close question ends the program"
xdotool windowactivate "$window"
wait_for 3 mapped "$window" || fail "the window did not come back from the task bar"
sleep 0.3
snap no-tray
focus "$window"
xdotool key alt+F4
question=$(timeout 5 xdotool search --sync --name '^Exit Ventrix$') || fail "no close question"
focus "$question"
xdotool key e
wait_for 5 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end"
wait "$app_pid" || fail "the program's exit code was not 0"
echo "screenshots in $shots"
echo "realwindow: all steps passed"
