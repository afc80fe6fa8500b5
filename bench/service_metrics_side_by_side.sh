#!/bin/bash
# Side by side, in one run: two HalvoricSvc on 100 ICMP hosts at 1000 ms each, one with the
# metrics endpoint on and scraped every 5 s, one without it; their CPU time per probe.
# Needs root: both run in a private network namespace (the kernel answers on loopback and
# icmp_responder only counts the requests), so no packet leaves this machine.
#
# Usage: bench/service_metrics_side_by_side.sh [build dir] [seconds] [hosts]
set -euo pipefail

build=${1:-build/default}
seconds=${2:-120}
hosts=${3:-100}
service="$build/HalvoricSvc"
responder="$build/tests/support/icmp_responder"

if [ "$(id -u)" != 0 ]; then
    echo "service_metrics_side_by_side: needs root (network namespace, raw sockets)" >&2
    exit 1
fi
command -v curl >/dev/null || { echo "service_metrics_side_by_side: curl missing" >&2; exit 1; }
[ -x "$service" ] && [ -x "$responder" ] || {
    echo "service_metrics_side_by_side: build HalvoricSvc and icmp_responder in $build first" >&2
    exit 1
}

ns=qvbench-metrics-$$
work=$(mktemp -d)
pids=()
cleanup() {
    # Under set -e: a killed child's status must not end the clean-up before the namespace.
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip netns exec "$ns" ip link set lo up
# The responder answers and counts; "on" probes 127.0.1.x, "off" 127.0.2.x.
ip netns exec "$ns" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
args=()
mkdir -p "$work/on" "$work/off"
for i in $(seq 1 "$hosts"); do
    args+=("127.0.1.$i" "127.0.2.$i")
    printf '0 127.0.1.%d 1000\r\r\n' "$i" >>"$work/on/conf01.dat"
    printf '0 127.0.2.%d 1000\r\r\n' "$i" >>"$work/off/conf01.dat"
done
printf '[metrics]\nlisten = 127.0.0.1:9462\n' >"$work/on/quorvane.conf"
ip netns exec "$ns" "$responder" "${args[@]}" >"$work/requests.txt" &
pids+=($!)
sleep 0.5

ip netns exec "$ns" "$service" "$work/on" 2>"$work/on.err" &
onPid=$!
pids+=("$onPid")
ip netns exec "$ns" "$service" "$work/off" 2>"$work/off.err" &
offPid=$!
pids+=("$offPid")

# On-CPU time of every thread of a process, in ns (schedstat's first field).
cpuNs() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'; }
# The same for the HTTP server's threads alone (civetweb-master, civetweb-worker): the
# scrapes' own cost, free of the noise between two services.
endpointNs() {
    for task in /proc/"$1"/task/*; do
        case $(cat "$task/comm" 2>/dev/null) in civetweb-*) cat "$task/schedstat" ;; esac
    done | awk '{s += $1} END {printf "%d", s}'
}
requests() { grep -c "^request 127\.0\.$1\." "$work/requests.txt" || true; }

# Scraped every 5 s, compressed, as a Prometheus server does.
(
    while sleep 5; do
        ip netns exec "$ns" curl -s --compressed -o /dev/null -w '%{http_code}\n' http://127.0.0.1:9462/metrics
    done
) >"$work/scrapes.txt" 2>&1 &
pids+=($!)

sleep 5  # start-up (name lookups, sockets) is not what is measured
on0=$(cpuNs "$onPid"); off0=$(cpuNs "$offPid"); ep0=$(endpointNs "$onPid")
onProbes0=$(requests 1); offProbes0=$(requests 2)
sleep "$seconds"
on1=$(cpuNs "$onPid"); off1=$(cpuNs "$offPid"); ep1=$(endpointNs "$onPid")
onProbes1=$(requests 1); offProbes1=$(requests 2)

scrapes=$(grep -c '^200$' "$work/scrapes.txt" || true)
failed=$(grep -vc '^200$' "$work/scrapes.txt" || true)
ip netns exec "$ns" curl -s http://127.0.0.1:9462/metrics >"$work/last.txt" || true
bytes=$(wc -c <"$work/last.txt")

perProbe() { awk -v c="$1" -v n="$2" 'BEGIN { if (n > 0) printf "%.1f", c / 1000 / n; else print "-" }'; }
onPer=$(perProbe $((on1 - on0)) $((onProbes1 - onProbes0)))
offPer=$(perProbe $((off1 - off0)) $((offProbes1 - offProbes0)))

echo "== $hosts ICMP hosts at 1000 ms each, $seconds s, two services side by side"
printf "%-30s %16s %16s\n" "" "endpoint on" "endpoint off"
printf "%-30s %16s %16s\n" "scrapes (every 5 s)" "$scrapes ok, $failed failed" "-"
printf "%-30s %16s %16s\n" "scrape size (bytes)" "$bytes" "-"
printf "%-30s %16s %16s\n" "probes" $((onProbes1 - onProbes0)) $((offProbes1 - offProbes0))
printf "%-30s %16s %16s\n" "CPU (ms)" $(((on1 - on0) / 1000000)) $(((off1 - off0) / 1000000))
printf "%-30s %16s %16s\n" "CPU per probe (us)" "$onPer" "$offPer"
printf "%-30s %16s %16s\n" "  of it the HTTP threads (ms)" $(((ep1 - ep0) / 1000000)) "-"
printf "%-30s %16s %16s\n" "CPU per scrape, HTTP (ms)" \
    "$(awk -v c=$((ep1 - ep0)) -v n="$scrapes" 'BEGIN { if (n > 0) printf "%.2f", c / 1e6 / n }')" "-"
awk -v a="$onPer" -v b="$offPer" 'BEGIN { if (b > 0) printf "side by side: endpoint on costs %+.1f %% CPU per probe (goal: at most +5 %%)\n", (a / b - 1) * 100 }'
awk -v e=$((ep1 - ep0)) -v t=$((on1 - on0)) 'BEGIN { if (t > e) printf "HTTP threads alone: %+.1f %% on top of the monitoring'"'"'s own CPU\n", e / (t - e) * 100 }'
