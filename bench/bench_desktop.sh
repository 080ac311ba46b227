#!/usr/bin/env bash
# The real program as its users run it: its window shown on a desktop (Xvfb, openbox, trayer
# as an XEmbed tray, a session bus), run as a normal user, fed syslog datagrams and traps.
#   bench/bench_desktop.sh BUILD_DIR [SCENARIO ...]     # default: 1 2 3 4 5 6
#     1  1,000 syslog events/s for 10 s, balloons on, then off
#     2  10,000 syslog events/s for 10 s, balloons on
#     3  a 100,000-datagram syslog burst at full speed, balloons on, then off (3b)
#     4  loss: a 100,000 syslog burst, 5 s at 50,000/s (4b), a 20,000 trap burst (4c), balloons on
#     5  one trap in the middle of 5 s at 50,000 syslog datagrams/s: its delay to the log file
#     6  idle for 10 s: CPU time and wake-ups
#     7  traps: 5,000/s for 10 s (7), 150,000 at 30,000/s (7b), balloons on
# Each run starts the program afresh and prints one line: events sent (and the rate the
# sender achieved), lost / duplicated / out of order in the log files, lines/s from the
# first send to the last line, the program's CPU time (all threads) per line written, and
# its resident memory before, after (settled) and kept per line.
# Started as root, the desktop session and the program run as nobody (setpriv), with the
# kernel's default net.core.rmem_max; Xvfb stays root's and lets nobody in by a cookie.
# A single run is named by its label (1b, 3b, 4b, 4c, 7b). Env: DRAIN_LIMIT (s, default 150) stops
# waiting for lines; SHOT=FILE.png keeps a screenshot taken during scenario 1; APP_STDERR=FILE
# keeps the program's standard error; PLATFORM=offscreen runs the program without its window
# (the same desktop session, user and settings), for a figure side by side.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../scripts/desktop.sh"

if [ "${1:-}" != --session ]; then
    build=$(cd "${1:?build dir}" && pwd)
    shift
    work=$(mktemp -d)
    chmod 755 "$work"
    cleanup() {
        kill "${display_pid:-}" 2>/dev/null || true
        wait 2>/dev/null || true
        rm -rf "$work"
    }
    trap cleanup EXIT
    start_display "$work" || { echo "Xvfb did not start"; exit 1; }
    runas=()
    if [ "$(id -u)" = 0 ]; then
        runas=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
        chown -R nobody:nogroup "$work"
    fi
    echo "# $(date -u '+%F %H:%M') UTC, user $("${runas[@]}" id -un)," \
        "net.core.rmem_max $(cat /proc/sys/net/core/rmem_max), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
    status=0
    "${runas[@]}" env HOME="$work" dbus-run-session -- bash "$0" --session "$build" "$work" "$@" || status=$?
    [ -n "${SHOT:-}" ] && [ -e "$work/desktop.png" ] && cp "$work/desktop.png" "$SHOT"
    exit $status
fi

# The user's desktop session: everything below runs as that user and on its session bus,
# and ends with it.
build=$2
work=$3
shift 3
scenarios=("${@:-1 2 3 4 5 6}")
scenarios=(${scenarios[*]})
app=$build/bin/ventrix
limit=${DRAIN_LIMIT:-150}
platform=${PLATFORM:-xcb}
size=120 # syslog datagrams of 120 bytes make log lines of about 150
ticks=$(getconf CLK_TCK)
source "$here/program.sh"

pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    kill "${desktop_pids[@]}" 2>/dev/null
    wait 2>/dev/null || true
}
trap cleanup EXIT
start_desktop "$work"

field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; } # name, key=value line
wait_until() { # tenths of a second, command...
    local t=$1; shift
    for _ in $(seq "$t"); do "$@" && return 0; sleep 0.1; done
    return 1
}
icon_embedded() { [ -n "$(tray_icon_center)" ]; }
window_shown() { xdotool search --onlyvisible --name '^Ventrix 1\.0\.1' >/dev/null 2>&1; }

run=0
# Starts the program and waits until its window is shown, its icon is in the tray and a
# probe of KIND is in the log file.
launch() { # balloons(true|false) kind
    run=$((run + 1))
    home=$work/run$run
    data=$home/data
    start_program "$app" "$home" "$1" "$platform"
    if [ "$platform" = xcb ]; then
        wait_until 100 window_shown || { echo "run $run: the window was not shown"; exit 1; }
        wait_until 100 icon_embedded || { echo "run $run: no icon in the tray"; exit 1; }
    fi
    port=$syslog_port
    [ "$2" = trap ] && port=$snmp_port
    wait_ready "$2" "$port" "$data" || { echo "run $run: nothing written"; exit 1; }
}
finish() { # ends the program and drops its files
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
    rm -rf "$home"
}
# Resident memory once it no longer moves (balloons close after 5 s): up to 10 s.
settled_rss() {
    local a b
    a=$(rss_kib "$pid")
    for _ in $(seq 10); do
        sleep 1
        b=$(rss_kib "$pid")
        [ $((b > a ? b - a : a - b)) -lt 256 ] && break
        a=$b
    done
    echo "$b"
}

measure() { # label balloons kind count rate(0: full speed)
    local label=$1 balloons=$2 kind=$3 count=$4 rate=$5
    launch "$balloons" "$kind"
    local rss0 cpu0 watch_out sent verdict
    rss0=$(rss_kib "$pid")
    cpu0=$(cpu_ticks "$pid")
    watch_out=$work/watched
    python3 "$here/flood.py" watch "$data" --tag run --count "$count" --limit "$limit" \
        --pid "$pid" --port "$port" >"$watch_out" &
    local watcher=$!
    local rateopt=(--size "$size")
    [ "$rate" != 0 ] && rateopt+=(--rate "$rate")
    [ "$label" = 1 ] && (sleep 5 && import -window root "$work/desktop.png") &
    sent=$(python3 "$here/flood.py" "$kind" "$port" "$count" "${rateopt[@]}" --tag run)
    wait "$watcher"
    local cpu1 seen
    cpu1=$(cpu_ticks "$pid")
    seen=$(cat "$watch_out")
    rm -f "$watch_out"
    local rss1 lines bytes
    rss1=$(settled_rss)
    lines=$(field lines "$seen")
    verdict=$(check_logs "$data" run "$count")
    bytes=$(cat "$data"/log*.txt | wc -c)
    finish
    python3 - "$label" "$balloons" "$kind" "$count" "$rate" "$sent" "$seen" "$verdict" \
        "$(((cpu1 - cpu0) * 1000 / ticks))" "$rss0" "$rss1" "$bytes" "$limit" <<'PY'
import sys
label, balloons, kind, count, rate, sent, seen, verdict, cpu_ms, rss0, rss1, size, limit = sys.argv[1:]
kv = lambda s: dict(p.split("=", 1) for p in s.split() if "=" in p)
sent, seen, verdict = kv(sent), kv(seen), kv(verdict)
lines = int(seen["lines"])
span = float(seen["last"]) - float(sent["start"]) if lines else 0
per_line = lambda x: x / lines if lines else 0
kept = per_line((int(rss1) - int(rss0)) * 1024)
how = f"{int(float(rate)):,}/s" if float(rate) else "burst"
print(f"{label:<3} {'on' if balloons == 'true' else 'off':<3} {kind:<6} {int(count):>7,} {how:>8}"
      f"  sent at {sent['rate']:>8}  lost {verdict['lost']:>6} (kernel {seen['kernel_dropped']:>6})"
      f" dup {verdict['duplicates']}"
      f" ooo {verdict['out_of_order']}  {lines / span if span > 0 else 0:>8,.0f} lines/s"
      f"  cpu {int(cpu_ms) / 1000:6.2f} s = {per_line(int(cpu_ms) * 1000):>6,.0f} us/line"
      f"  rss {int(rss0) / 1024:6.1f} -> {int(rss1) / 1024:6.1f} MiB = {kept:>6,.0f} B/line"
      f" ({int(size) / (lines + 1):.0f} B)"
      + (f"  [stopped waiting after {limit} s]" if seen["stop"] == "limit" else ""))
PY
}

latency() { # 5 s of 50,000 syslog datagrams/s, one trap sent after 2.5 s
    launch true syslog
    local lat verdict
    python3 "$here/flood.py" watch "$data" --tag run --count 250000 --limit "$limit" \
        --pid "$pid" --port "$port" >/dev/null &
    local watcher=$!
    python3 "$here/flood.py" syslog "$port" 250000 --rate 50000 --size "$size" --tag run >"$work/sent" &
    local sender=$!
    lat=$(python3 "$here/flood.py" latency "$snmp_port" "$data" --after 2.5 --limit "$limit" \
        --tag lat || true)
    wait "$sender" "$watcher"
    verdict=$(check_logs "$data" run 250000)
    printf '5   on  trap   one trap during 5 s of 50,000 syslog/s (sent at %s): %s  [syslog: %s]\n' \
        "$(field rate "$(cat "$work/sent")")" "$lat" "$verdict"
    finish
}

idle() { # 10 s with nothing arriving
    launch true syslog
    sleep 6 # the probe's balloon closes after 5 s
    local c0 c1
    c0=$(cpu_ticks "$pid")
    thread_switches "$pid" >"$work/switches"
    sleep 10
    c1=$(cpu_ticks "$pid")
    printf '6   on  idle   10 s, nothing sent: cpu %d ms, %s\n' $(((c1 - c0) * 1000 / ticks)) \
        "$(thread_switches "$pid" | awk 'NR == FNR {was[$1] = $3; next}
            {threads++; d = $3 - was[$1]; n += d; if (d) by = by sprintf(" %s %d", $2, d)}
            END {printf "%d context switches over %d threads%s", n, threads, by ? " (" substr(by, 2) ")" : ""}' \
            "$work/switches" -)"
    finish
}

echo "# scenario, balloons, kind, events, rate; the sender's rate; lost (of them dropped by the" \
    "kernel: socket buffer full)/duplicated/out of order;" \
    "lines/s from the first send to the last line; CPU per line written; resident memory before," \
    "settled after, kept per line (average line length)"
one() { # a single run by its label
    case $1 in
    1) measure 1 true syslog 10000 1000 ;;
    1b) measure 1b false syslog 10000 1000 ;;
    2) measure 2 true syslog 100000 10000 ;;
    3) measure 3 true syslog 100000 0 ;;
    3b) measure 3b false syslog 100000 0 ;;
    4) measure 4 true syslog 100000 0 ;;
    4b) measure 4b true syslog 250000 50000 ;;
    4c) measure 4c true trap 20000 0 ;;
    5) latency ;;
    6) idle ;;
    7) measure 7 true trap 50000 5000 ;;
    7b) measure 7b true trap 150000 30000 ;;
    *) echo "unknown scenario $1"; exit 2 ;;
    esac
}
for s in "${scenarios[@]}"; do
    case $s in
    1) one 1; one 1b ;;
    3) one 3; one 3b ;;
    4) one 4; one 4b; one 4c ;;
    7) one 7; one 7b ;;
    *) one "$s" ;;
    esac
done
