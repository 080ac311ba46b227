#!/usr/bin/env bash
# The whole program, offscreen, fed at full loopback speed and at fixed rates.
#   bench/bench_program.sh BUILD_DIR [balloons: off|on|both]
# For each run: events sent, loss, duplicates and order in the log file, throughput from
# the first send to the last line written, and the program's resident memory and CPU time.
set -euo pipefail
build=${1:?build dir}
which=${2:-both}
here=$(cd "$(dirname "$0")" && pwd)
app=$build/bin/ventrix
clock_ticks=$(getconf CLK_TCK)

source "$here/program.sh"
now() { date +%s.%N; }
cpu_s() { awk -v t="$clock_ticks" '{printf "%.2f", ($14 + $15) / t}' "/proc/$1/stat"; }
count_tag() { grep -a -c -- "$2-" "$1" 2>/dev/null || echo 0; }

run() { # balloons kind count rate
    local balloons=$1 kind=$2 count=$3 rate=$4
    local work; work=$(mktemp -d)
    local pid snmp_port syslog_port
    start_program "$app" "$work" "$balloons"
    local port=$syslog_port; [ "$kind" = trap ] && port=$snmp_port
    wait_ready "$kind" "$port" "$work/data"
    local rss0 cpu0; rss0=$(rss_kib $pid); cpu0=$(cpu_s $pid)
    local t0; t0=$(now)
    local rateopt=(); [ "$rate" != 0 ] && rateopt=(--rate "$rate")
    python3 "$here/flood.py" "$kind" "$port" "$count" "${rateopt[@]}" --tag run >/dev/null
    # Until every line is in or nothing has arrived for 3 s.
    local last=-1 same=0 n=0 t1
    while :; do
        n=$(count_tag "$work/data/log.txt" run)
        [ "$n" -ge "$count" ] && break
        if [ "$n" = "$last" ]; then same=$((same + 1)); [ $same -ge 30 ] && break; else same=0; fi
        last=$n
        sleep 0.1
    done
    t1=$(now)
    local rss1 cpu1; rss1=$(rss_kib $pid); cpu1=$(cpu_s $pid)
    local verdict; verdict=$(check_logs "$work/data" run "$count")
    kill $pid; wait $pid 2>/dev/null || true
    local secs; secs=$(echo "$t1 - $t0" | bc -l)
    printf '%-8s %-6s %7d %8s  %s  %8.0f/s  rss %d->%d KiB  cpu %.2fs\n' "$balloons" "$kind" "$count" \
        "$( [ "$rate" = 0 ] && echo burst || echo "$rate/s")" "$verdict" "$(echo "$n / $secs" | bc -l)" \
        "$rss0" "$rss1" "$(echo "$cpu1 - $cpu0" | bc -l)"
    rm -rf "$work"
}

echo "balloons kind    events     rate  result                                                      throughput  memory  cpu"
for balloons in $([ "$which" = both ] && echo false true || { [ "$which" = on ] && echo true || echo false; }); do
    run $balloons syslog 100000 0
    run $balloons trap 20000 0
    run $balloons syslog 100000 10000
    run $balloons syslog 100000 50000
done
