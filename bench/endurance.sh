#!/usr/bin/env bash
# The real program for a long run at a steady rate, balloons on, half syslog and half
# traps, sampled every 10 s.
#   bench/endurance.sh BUILD_DIR [SECONDS (600)] [EVENTS_PER_SECOND (2000)]
# Prints one row per sample (lines in the log files, resident memory, CPU over the last
# interval, threads, open descriptors, whether queue.tmp exists), then the memory growth
# per retained line of the view, the same for the first and the second half of the run
# (equal when nothing but the view grows), and the loss/duplicate/order check.
set -euo pipefail
build=${1:?build dir}
seconds=${2:-600}
rate=${3:-2000}
here=$(cd "$(dirname "$0")" && pwd)
app=$build/bin/ventrix
ticks=$(getconf CLK_TCK)
half=$((rate / 2))
count=$((seconds * half))

source "$here/program.sh"
threads() { awk '/Threads/ {print $2}' "/proc/$1/status"; }
fds() { ls "/proc/$1/fd" | wc -l; }
lines() { cat "$work"/data/log*.txt 2>/dev/null | grep -a -c -e 'endS-' -e 'endT-' || true; }

work=$(mktemp -d)
start_program "$app" "$work" true
sp=$snmp_port
yp=$syslog_port
cleanup() { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

wait_ready syslog "$yp" "$work/data"
python3 "$here/flood.py" trap "$sp" 1 --tag probe >/dev/null
sleep 1

python3 "$here/flood.py" syslog "$yp" "$count" --rate "$half" --tag endS >/dev/null &
s1=$!
python3 "$here/flood.py" trap "$sp" "$count" --rate "$half" --tag endT >/dev/null &
s2=$!

printf '%6s %9s %9s %6s %7s %4s %5s\n' seconds lines rss_KiB cpu_% threads fds queue
samples=()
t0=$(date +%s)
last_ticks=$(cpu_ticks $pid)
elapsed=0
while :; do
    n=$(lines); r=$(rss_kib $pid); c=$(cpu_ticks $pid)
    cpu=$(echo "($c - $last_ticks) * 100 / $ticks / 10" | bc -l)
    [ $elapsed = 0 ] && cpu=0
    q=no; [ -e "$work/data/queue.tmp" ] && q=yes
    printf '%6d %9d %9d %6.1f %7d %4d %5s\n' $elapsed "$n" "$r" "$cpu" "$(threads $pid)" "$(fds $pid)" $q
    samples+=("$n $r")
    last_ticks=$c
    kill -0 $s1 2>/dev/null || kill -0 $s2 2>/dev/null || break
    sleep $((t0 + elapsed + 10 - $(date +%s) > 0 ? t0 + elapsed + 10 - $(date +%s) : 0))
    elapsed=$((elapsed + 10))
done
wait $s1 $s2
# Until the last line is in (or nothing has moved for 10 s).
prev=-1
for _ in $(seq 100); do
    n=$(lines)
    [ "$n" -ge $((2 * count)) ] && break
    [ "$n" = "$prev" ] && break
    prev=$n; sleep 1
done
printf 'end    %9d %9d\n' "$(lines)" "$(rss_kib $pid)"

python3 - "${samples[@]}" <<'PY'
import sys
pts = [tuple(map(int, s.split())) for s in sys.argv[1:]]
pts = [p for p in pts if p[0] > 0]
def slope(ps):
    n = len(ps); mx = sum(p[0] for p in ps) / n; my = sum(p[1] for p in ps) / n
    sxx = sum((p[0] - mx) ** 2 for p in ps)
    return sum((p[0] - mx) * (p[1] - my) for p in ps) / sxx if sxx else float('nan')
h = len(pts) // 2
print(f"rss growth per line: whole run {slope(pts) * 1024:.0f} B, first half {slope(pts[:h]) * 1024:.0f} B, "
      f"second half {slope(pts[h:]) * 1024:.0f} B")
PY
echo "rotated log files: $(ls "$work"/data/log_*.txt 2>/dev/null | wc -l)"
echo "syslog: $(check_logs "$work/data" endS $count)"
echo "traps:  $(check_logs "$work/data" endT $count)"
