#!/bin/bash
# Side by side, in one run: two HalvoricSvc on 100 ICMP hosts at 1000 ms each, one with the
# metrics endpoint on and scraped every 5 s, one without it; their CPU time per probe.
# Two rounds, the roles swapped in the second, so that neither service's place (its
# address range, the core it lands on) counts for one side only.
# Needs root: both run in a private network namespace (the kernel answers on loopback and
# icmp_responder only counts the requests), so no packet leaves this machine.
#
# Usage: bench/service_metrics_side_by_side.sh [build dir] [seconds per round] [hosts]
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
stopAll() {
    # Under set -e: a killed child's status must not end the clean-up before the namespace.
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    pids=()
}
cleanup() {
    stopAll
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip netns exec "$ns" ip link set lo up
# The responder answers and counts; service 1 probes 127.0.1.x, service 2 127.0.2.x.
ip netns exec "$ns" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
args=()
mkdir -p "$work/1" "$work/2"
for i in $(seq 1 "$hosts"); do
    args+=("127.0.1.$i" "127.0.2.$i")
    printf '0 127.0.1.%d 1000\r\r\n' "$i" >>"$work/1/conf01.dat"
    printf '0 127.0.2.%d 1000\r\r\n' "$i" >>"$work/2/conf01.dat"
done

# On-CPU time of every thread of a process, in ns (schedstat's first field).
cpuNs() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'; }
# The same for the HTTP server's thread alone (libmicrohttpd's MHD-single): the scrapes'
# own cost, free of the noise between two services.
endpointNs() {
    for task in /proc/"$1"/task/*; do
        case $(cat "$task/comm" 2>/dev/null) in MHD-*) cat "$task/schedstat" ;; esac
    done | awk '{s += $1} END {printf "%d", s}'
}
requests() { grep -c "^request 127\.0\.$1\." "$work/requests.txt" || true; }

onCpu=0; offCpu=0; onProbes=0; offProbes=0; httpCpu=0; scrapes=0; failed=0
# One round: service $1 serves metrics, service $2 does not.
round() {
    local on=$1 off=$2
    printf '[metrics]\nlisten = 127.0.0.1:9462\n' >"$work/$on/quorvane.conf"
    rm -f "$work/$off/quorvane.conf" "$work/requests.txt"
    ip netns exec "$ns" "$responder" "${args[@]}" >"$work/requests.txt" &
    pids+=($!)
    sleep 0.5
    ip netns exec "$ns" "$service" "$work/$on" 2>"$work/on.err" &
    local onPid=$!
    pids+=("$onPid")
    ip netns exec "$ns" "$service" "$work/$off" 2>"$work/off.err" &
    local offPid=$!
    pids+=("$offPid")
    sleep 5  # start-up (name lookups, sockets) is not what is measured
    # Scraped every 5 s, compressed, over one kept-alive connection, as a Prometheus server
    # does; a single client process, so that no program start lands between the two.
    ip netns exec "$ns" stdbuf -oL curl -s --compressed --rate 12/m -o /dev/null \
        -w '%{http_code}\n' "http://127.0.0.1:9462/metrics?scrape=[1-100000]" \
        >"$work/scrapes.txt" 2>&1 &
    pids+=($!)
    local on0 off0 ep0 onP0 offP0 on1 off1 ep1 onP1 offP1
    on0=$(cpuNs "$onPid"); off0=$(cpuNs "$offPid"); ep0=$(endpointNs "$onPid")
    onP0=$(requests "$on"); offP0=$(requests "$off")
    sleep "$seconds"
    on1=$(cpuNs "$onPid"); off1=$(cpuNs "$offPid"); ep1=$(endpointNs "$onPid")
    onP1=$(requests "$on"); offP1=$(requests "$off")
    ip netns exec "$ns" curl -s http://127.0.0.1:9462/metrics >"$work/last.txt" || true
    stopAll

    onCpu=$((onCpu + on1 - on0)); offCpu=$((offCpu + off1 - off0)); httpCpu=$((httpCpu + ep1 - ep0))
    onProbes=$((onProbes + onP1 - onP0)); offProbes=$((offProbes + offP1 - offP0))
    scrapes=$((scrapes + $(grep -c '^200$' "$work/scrapes.txt" || true)))
    failed=$((failed + $(grep -vc '^200$' "$work/scrapes.txt" || true)))
    echo "round: service $on on, $off off: CPU $(((on1 - on0) / 1000000)) ms vs $(((off1 - off0) / 1000000)) ms, HTTP thread $(((ep1 - ep0) / 1000000)) ms"
}
round 1 2
round 2 1
bytes=$(wc -c <"$work/last.txt")

perProbe() { awk -v c="$1" -v n="$2" 'BEGIN { if (n > 0) printf "%.1f", c / 1000 / n; else print "-" }'; }
onPer=$(perProbe "$onCpu" "$onProbes")
offPer=$(perProbe "$offCpu" "$offProbes")

echo "== $hosts ICMP hosts at 1000 ms each, 2 rounds of $seconds s, two services side by side"
printf "%-30s %16s %16s\n" "" "endpoint on" "endpoint off"
printf "%-30s %16s %16s\n" "scrapes (every 5 s)" "$scrapes ok, $failed failed" "-"
printf "%-30s %16s %16s\n" "scrape size (bytes)" "$bytes" "-"
printf "%-30s %16s %16s\n" "probes" "$onProbes" "$offProbes"
printf "%-30s %16s %16s\n" "CPU (ms)" $((onCpu / 1000000)) $((offCpu / 1000000))
printf "%-30s %16s %16s\n" "CPU per probe (us)" "$onPer" "$offPer"
printf "%-30s %16s %16s\n" "  of it the HTTP thread (ms)" $((httpCpu / 1000000)) "-"
printf "%-30s %16s %16s\n" "CPU per scrape, HTTP (ms)" \
    "$(awk -v c="$httpCpu" -v n="$scrapes" 'BEGIN { if (n > 0) printf "%.2f", c / 1e6 / n }')" "-"
awk -v a="$onPer" -v b="$offPer" 'BEGIN { if (b > 0) printf "side by side: endpoint on costs %+.1f %% CPU per probe (goal: at most +5 %%)\n", (a / b - 1) * 100 }'
awk -v e="$httpCpu" -v t="$onCpu" 'BEGIN { if (t > e) printf "HTTP thread alone: %+.1f %% on top of the monitoring'"'"'s own CPU\n", e / (t - e) * 100 }'
