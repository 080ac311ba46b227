# Shared by the benchmark scripts: start the real program with a private HOME, AutoStart on
# free high ports, wait until it writes, and read its resources from /proc.
#   source bench/program.sh
#   start_program APP WORK BALLOONS [PLATFORM]   (sets pid, snmp_port, syslog_port;
#                                                 platform offscreen unless given, e.g. xcb)
#   wait_ready KIND PORT DATADIR                 (a probe event of KIND is in the log file)

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
rss_kib() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
# utime + stime of every thread the process has had, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# Voluntary and involuntary context switches of each live thread (its wake-ups): "tid name n".
thread_switches() {
    local t
    for t in /proc/"$1"/task/*; do
        awk -v tid="${t##*/}" '/^Name:/ {name = $2} /ctxt_switches/ {n += $2} END {print tid, name, n}' "$t/status"
    done
}

start_program() { # app work-folder balloons(true|false) [platform]
    local app=$1 work=$2 balloons=$3 platform=${4:-offscreen}
    snmp_port=$(free_port)
    syslog_port=$(free_port)
    mkdir -p "$work/.config/Norvane/Ventrix" "$work/rt" && chmod 700 "$work/rt"
    cat > "$work/.config/Norvane/Ventrix/Ventrix.ini" <<INI
[General]
AutoStart=true
minimizeStart=false
SnmpPort=$snmp_port
SyslogPort=$syslog_port
BalloonEnable=$balloons
DataDir=$work/data
INI
    HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work/rt QT_QPA_PLATFORM=$platform \
        "$app" >/dev/null 2>>"${APP_STDERR:-/dev/null}" &
    pid=$!
}

wait_ready() { # kind port data-folder
    for _ in $(seq 100); do
        python3 "$(dirname "${BASH_SOURCE[0]}")/flood.py" "$1" "$2" 1 --tag probe >/dev/null
        grep -a -q probe- "$3"/log.txt 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

check_logs() { # data-folder tag count: loss, duplicates and order over the rotated files, then log.txt
    python3 "$(dirname "${BASH_SOURCE[0]}")/flood.py" check $(ls "$1"/log_*.txt 2>/dev/null | sort) "$1/log.txt" \
        --tag "$2" --count "$3" || true
}
