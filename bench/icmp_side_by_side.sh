#!/bin/bash
# Side by side, in one run: our ICMP prober next to the system's ping (mean RTT of a 50 ms
# test host) and next to fping (CPU time of 100 probers at 1000 ms on 127.0.0.1..100).
# Needs root: makes two private network namespaces, so no packet leaves this machine.
#
# Usage: bench/icmp_side_by_side.sh [build dir] [cpu seconds] [rtt probes]
set -euo pipefail

build=${1:-build/default}
cpuSeconds=${2:-60}
rttProbes=${3:-30}
probers="$build/bench/icmp_probers"
responder="$build/tests/support/icmp_responder"

if [ "$(id -u)" != 0 ]; then
    echo "icmp_side_by_side: needs root (network namespaces, raw sockets)" >&2
    exit 1
fi
for tool in ping fping /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "icmp_side_by_side: $tool missing" >&2; exit 1; }
done
[ -x "$probers" ] && [ -x "$responder" ] || {
    echo "icmp_side_by_side: build icmp_probers and icmp_responder in $build first" >&2
    exit 1
}

delayNs=qvbench-delay-$$
loopNs=qvbench-loop-$$
work=$(mktemp -d)
responderPid=
cleanup() {
    [ -n "$responderPid" ] && kill "$responderPid" 2>/dev/null && wait "$responderPid" 2>/dev/null
    ip netns del "$delayNs" 2>/dev/null || true
    ip netns del "$loopNs" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A test host answering 127.0.0.2 after 50 ms; the kernel itself stays quiet.
ip netns add "$delayNs"
ip netns exec "$delayNs" ip link set lo up
ip netns exec "$delayNs" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
ip netns exec "$delayNs" "$responder" 127.0.0.2,delay=50 >"$work/responder.out" &
responderPid=$!
sleep 0.3

# Loopback where the kernel answers every 127.x address at once.
ip netns add "$loopNs"
ip netns exec "$loopNs" ip link set lo up

echo "== mean RTT of a 50 ms test host, $rttProbes probes each, run side by side"
ip netns exec "$delayNs" "$probers" --hosts 1 --first 127.0.0.2 --seconds "$rttProbes" \
    --timeout 1000 >"$work/ours_rtt.txt" &
oursPid=$!
ip netns exec "$delayNs" ping -q -c "$rttProbes" -i 1 127.0.0.2 >"$work/ping.txt"
wait "$oursPid"
oursRtt=$(awk '/^probes/ {print $6}' "$work/ours_rtt.txt")
pingRtt=$(awk -F'/' '/^rtt/ {print $5}' "$work/ping.txt")

targets=()
for i in $(seq 1 100); do targets+=("127.0.0.$i"); done

echo "== CPU of 100 probers at 1000 ms for $cpuSeconds s (raw, datagram, fping in turn)"
ip netns exec "$loopNs" sysctl -qw net.ipv4.ping_group_range="0 2147483647"
for kind in raw datagram; do
    ip netns exec "$loopNs" /usr/bin/time -f "%U %S %w %c" -o "$work/${kind}_time.txt" \
        "$probers" --hosts 100 --first 127.0.0.1 --seconds "$cpuSeconds" --timeout 1000 \
        --kind "$kind" >"$work/${kind}_cpu.txt"
done
ip netns exec "$loopNs" /usr/bin/time -f "%U %S %w %c" -o "$work/fping_time.txt" \
    timeout -s INT "$cpuSeconds" fping -l -q -i1 -p1000 -t1000 "${targets[@]}" \
    >/dev/null 2>"$work/fping.txt" || true

# fping -l -q prints per target "xmt/rcv/%loss = a/b/c%" on exit.
fpingProbes=$(grep -o 'xmt/rcv/%loss = [0-9]*' "$work/fping.txt" | awk '{s += $NF} END {print s + 0}')
read -r fpingUser fpingSys fpingWaits fpingInvol < <(tail -n 1 "$work/fping_time.txt")
for kind in raw datagram; do
    eval "${kind}Probes=\$(awk '/^probes/ {print \$2}' \"$work/${kind}_cpu.txt\")"
    eval "${kind}Bystander=\$(awk '/^context_switches/ {print \$6}' \"$work/${kind}_cpu.txt\")"
    read -r "${kind}User" "${kind}Sys" "${kind}Waits" "${kind}Invol" <"$work/${kind}_time.txt"
done

cpu() { awk -v u="$1" -v s="$2" 'BEGIN {printf "%.2f", u + s}'; }
perProbe() { awk -v u="$1" -v s="$2" -v n="$3" 'BEGIN { if (n > 0) printf "%.1f", (u + s) * 1e6 / n; else print "-" }'; }
perProbeCount() { awk -v w="$1" -v n="$2" 'BEGIN { if (n > 0) printf "%.2f", w / n; else print "-" }'; }

echo
printf "%-36s %14s %14s %14s\n" "" "Quorvane" "" "system tool"
printf "%-36s %14s %14s %14s\n" "mean RTT, 50 ms host (ms)" "$oursRtt" "" "$pingRtt ping"
printf "%-36s %14s %14s %14s\n" "100 hosts, ${cpuSeconds} s at 1000 ms:" "raw socket" "datagram" "fping"
printf "%-36s %14s %14s %14s\n" "  probes" "$rawProbes" "$datagramProbes" "$fpingProbes"
printf "%-36s %14s %14s %14s\n" "  CPU user+sys (s)" "$(cpu "$rawUser" "$rawSys")" \
    "$(cpu "$datagramUser" "$datagramSys")" "$(cpu "$fpingUser" "$fpingSys")"
printf "%-36s %14s %14s %14s\n" "  CPU per probe (us)" "$(perProbe "$rawUser" "$rawSys" "$rawProbes")" \
    "$(perProbe "$datagramUser" "$datagramSys" "$datagramProbes")" \
    "$(perProbe "$fpingUser" "$fpingSys" "$fpingProbes")"
printf "%-36s %14s %14s %14s\n" "  voluntary waits per probe" \
    "$(perProbeCount "$rawWaits" "$rawProbes")" "$(perProbeCount "$datagramWaits" "$datagramProbes")" \
    "$(perProbeCount "$fpingWaits" "$fpingProbes")"
printf "%-36s %14s %14s %14s\n" "  datagrams seen by a bystander" "$rawBystander" \
    "$datagramBystander" "-"
