# A desktop for the program's real window: Xvfb on a display of its own (no TCP, a cookie
# in a file of the work folder, so another user's client can be let in), openbox with its
# own rc.xml (window states need a window manager) and trayer as an XEmbed tray.
#   source scripts/desktop.sh
#   start_display WORK    exports DISPLAY and XAUTHORITY; sets display_pid
#   start_desktop WORK    openbox and trayer on that display; sets desktop_pids
#   tray_icon_center      the centre of the program's icon in the tray, once it is embedded

start_display() { # work-folder
    local work=$1 cookie
    cookie=$(mcookie)
    # The server accepts every cookie in its file; the client looks its display up.
    touch "$work/xauthority"
    xauth -q -f "$work/xauthority" add :0 . "$cookie"
    Xvfb -displayfd 5 -auth "$work/xauthority" -screen 0 1024x768x24 -nolisten tcp \
        5>"$work/display" >/dev/null 2>&1 &
    display_pid=$!
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || return 1
    export DISPLAY=":$(cat "$work/display")"
    export XAUTHORITY=$work/xauthority
    xauth -q add "$DISPLAY" . "$cookie"
}

start_desktop() { # work-folder
    local work=$1
    mkdir -p "$work/openbox"
    cat > "$work/openbox/rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc"><focus><focusNew>yes</focusNew></focus><desktops><number>1</number></desktops></openbox_config>
XML
    openbox --config-file "$work/openbox/rc.xml" >/dev/null 2>&1 &
    desktop_pids=($!)
    trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
    desktop_pids+=($!)
    sleep 1
}

tray_icon_center() { # the program's 22x22 icon embedded in the tray host
    xwininfo -root -tree | awk '/\("ventrix"/ && / 2[0-9]x2[0-9]\+/ {split($NF, a, "+"); print a[2] + 11, a[3] + 11; exit}'
}
