# Shared by the benchmark scripts: start the real program offscreen with a private HOME,
# AutoStart on free high ports, and read its resources from /proc.
#   source bench/program.sh; start_program APP WORK BALLOONS   (sets pid, snmp_port, syslog_port)

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
rss_kib() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }

start_program() { # app work-folder balloons(true|false)
    local app=$1 work=$2 balloons=$3
    snmp_port=$(free_port)
    syslog_port=$(free_port)
    mkdir -p "$work/.config/Norvane/Ventrix" "$work/rt" && chmod 700 "$work/rt"
    cat > "$work/.config/Norvane/Ventrix/Ventrix.ini" <<INI
[General]
AutoStart=true
SnmpPort=$snmp_port
SyslogPort=$syslog_port
BalloonEnable=$balloons
DataDir=$work/data
INI
    HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work/rt QT_QPA_PLATFORM=offscreen \
        "$app" >/dev/null 2>&1 &
    pid=$!
}
