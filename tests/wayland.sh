#!/usr/bin/env bash
# The program in a Wayland session with a tray, as on KDE Plasma or GNOME with AppIndicator:
# weston (headless, with XWayland) and a stand-in StatusNotifierItem host on a private
# session bus. Started as from the menu, the program runs through XWayland: its window starts
# fully on screen, a click on the tray item sends it to the tray and brings it back, the
# close question's Minimize sends it to the tray and its Exit ends the program. A platform
# the user chose is kept. Weston draws no minimise button on X windows and ignores an X
# client's iconify request, so the minimises here are the program's own (tray click, close
# question); the desktop's minimise is checked on X11 (realwindow.sh). Puts a screenshot of
# the session into $SHOTS. Everything it starts ends with it.
#   wayland.sh PATH/TO/ventrix
set -euo pipefail
app=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
shots=${SHOTS:-$work/shots}
mkdir -p "$shots" "$work/home/.config/Norvane/Ventrix" "$work/rt" "$work/snap"
chmod 700 "$work/rt"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    cat "$work/app.log" 2>/dev/null || true
    scene | grep -A3 "top-level" || true
    exit 1
}
step() { echo "-- $*"; }
wait_for() { # seconds, command...
    local t=$1; shift
    for _ in $(seq $((t * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}
free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

export XDG_RUNTIME_DIR=$work/rt WAYLAND_DISPLAY=ventrix-test
unset DISPLAY QT_QPA_PLATFORM
# --debug lets the screenshooter and the scene-graph dump in.
weston --backend=headless-backend.so --use-pixman --socket="$WAYLAND_DISPLAY" --width=1280 --height=800 \
    --xwayland --debug --log="$work/weston.log" >/dev/null 2>&1 &
pids+=($!)
xserver() { sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log" 2>/dev/null | grep .; }
wait_for 10 xserver >/dev/null || fail "weston did not start with XWayland: $(cat "$work/weston.log")"
export DISPLAY=$(xserver)

exec 4< <(exec dbus-daemon --session --nofork --print-address 2>/dev/null)
pids+=($!)
read -r -t 10 bus <&4 || fail "dbus-daemon did not start"
export DBUS_SESSION_BUS_ADDRESS=$bus
# Debian's D-Bus bindings are for the system's python.
exec 5< <(exec /usr/bin/python3 "$here/trayhost.py")
pids+=($!)
read -r -t 10 ready <&5 && [ "$ready" = ready ] || fail "the stand-in tray host did not start"

syslog_port=$(free_port)
cat > "$work/home/.config/Norvane/Ventrix/Ventrix.ini" <<INI
[General]
AutoStart=true
SnmpEnable=false
SyslogPort=$syslog_port
DataDir=$work/home/data
INI
run() { # the program as the desktop starts it; extra environment first
    env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$@" "$app" >>"$work/app.log" 2>&1 &
    app_pid=$!
    pids+=($app_pid)
}

# The compositor's own view of the windows: the opaque area of the top-level window with
# this title (and role: xdg_toplevel for a native Wayland one), as x1 y1 x2 y2. A window
# that closed stays in the dump for as long as the desktop fades it out.
scene() { timeout 5 weston-debug scene-graph 2>/dev/null || true; }
window_area() { # title [role]
    scene | awk -v title="top-level window '$1" -v role="${2:-}" 'index($0, title) && index($0, role) { found = 1 }
        found && /opaque: / { gsub(/[^0-9]+/, " "); print; exit }'
}
on_screen() { # the main window is fully on the output, below weston's 32-pixel panel
    local area
    area=$(window_area 'Ventrix 1.0.1')
    [ -n "$area" ] && read -r x1 y1 x2 y2 <<<"$area" && [ "$x1" -ge 0 ] && [ "$y1" -ge 32 ] &&
        [ "$x2" -le 1280 ] && [ "$y2" -le 800 ]
}
in_tray() { [ -z "$(window_area 'Ventrix 1.0.1')" ] && ! xwininfo -id "$window" | grep -q IsViewable; }
# What a tray host does on a click on the item.
click_item() {
    dbus-send --session --type=method_call --dest="$item" /StatusNotifierItem \
        org.kde.StatusNotifierItem.Activate int32:0 int32:0
}
# Keys reach the window the compositor activated (weston's X window manager takes the
# _NET_ACTIVE_WINDOW request; it sets no X input focus of its own).
keys() {
    xdotool windowactivate "$1" 2>/dev/null
    sleep 0.3
    shift
    xdotool key "$@"
}
close_question() {
    keys "$window" alt+f x
    question=$(timeout 5 xdotool search --sync --name '^Exit Ventrix$') || fail "no close question"
}

step "started as from the menu, the program runs through XWayland, fully on screen"
run env
read -r -t 10 item <&5 || fail "no item registered with the tray host"
window=$(timeout 10 xdotool search --sync --onlyvisible --pid "$app_pid" --name '^Ventrix 1\.0\.1' | head -1) ||
    fail "no X window: the program did not take XWayland"
wait_for 5 on_screen || fail "the window is not fully on screen: $(window_area 'Ventrix 1.0.1')"

step "events arrive"
for text in 'pump-7 door: opened' 'pump-7 temperature: 23.5 C' 'pump-7 door: closed'; do
    printf '<13>Dec  8 10:00:00 %s' "$text" >/dev/udp/127.0.0.1/"$syslog_port"
done
wait_for 5 grep -q 'door: closed' "$work/home/data/log.txt" || fail "the events are not in the log file"
sleep 0.5
(cd "$work/snap" && weston-screenshooter) && mv "$work/snap"/wayland-screenshot-*.png "$shots/wayland-session.png" ||
    fail "no screenshot"

step "a click on the tray item sends the window to the tray, another brings it back"
click_item
wait_for 3 in_tray || fail "the window did not go to the tray"
click_item
wait_for 3 on_screen || fail "the window did not come back on screen"

step "closing asks; Escape sends the window to the tray"
close_question
keys "$question" Escape
wait_for 3 in_tray || fail "Escape did not send the window to the tray"
kill -0 "$app_pid" || fail "the program ended on Escape"

step "back from the tray; Exit in the close question ends the program"
click_item
wait_for 3 on_screen || fail "the window did not come back on screen"
close_question
keys "$question" e
wait_for 5 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end"
wait "$app_pid" || fail "the program's exit code was not 0"

step "a platform the user chose is kept: native Wayland"
# Qt's Wayland plugin and libwayland keep allocations of their own at the end (seen under
# the sanitizers); the program's own memory is checked in the steps above.
run env QT_QPA_PLATFORM=wayland ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
# Placed by the compositor (weston: anywhere within 400 pixels of the corner).
native_window() { [ -n "$(window_area 'Ventrix 1.0.1' 'role xdg_toplevel')" ]; }
wait_for 10 native_window || fail "no native Wayland window"
[ -z "$(xdotool search --pid "$app_pid" 2>/dev/null)" ] || fail "the program took XWayland all the same"
kill "$app_pid"
wait "$app_pid" || fail "the program's exit code on SIGTERM was $?"
echo "screenshot in $shots"
echo "wayland: all steps passed"
