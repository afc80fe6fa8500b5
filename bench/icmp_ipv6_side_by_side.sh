#!/bin/bash
# CPU per probe of 100 ICMP probers over IPv4 and over IPv6, one after the other in one run
# of bench/icmp_probers, for both socket kinds. The kernel of a private network namespace
# answers 127.0.0.1..100 and fd00::1..100 on its loopback, so no packet leaves this machine.
# Needs root.
#
# Usage: bench/icmp_ipv6_side_by_side.sh [build dir] [seconds per family]
set -euo pipefail

build=${1:-build/default}
seconds=${2:-30}
probers="$build/bench/icmp_probers"

if [ "$(id -u)" != 0 ]; then
    echo "icmp_ipv6_side_by_side: needs root (network namespaces, raw sockets)" >&2
    exit 1
fi
[ -x "$probers" ] || { echo "icmp_ipv6_side_by_side: build icmp_probers in $build first" >&2; exit 1; }

ns=qvbench-ipv6-$$
trap 'ip netns del "$ns" 2>/dev/null || true' EXIT
ip netns add "$ns"
ip netns exec "$ns" ip link set lo up
ip netns exec "$ns" sysctl -qw net.ipv4.ping_group_range="0 2147483647"
for i in $(seq 1 100); do
    ip netns exec "$ns" ip -6 addr add "fd00::$(printf '%x' "$i")/128" dev lo nodad
done

for kind in raw datagram; do
    echo "== $kind sockets, 100 hosts at 1000 ms, $seconds s per family"
    ip netns exec "$ns" "$probers" --hosts 100 --first 127.0.0.1 --ipv6-first fd00::1 \
        --seconds "$seconds" --timeout 1000 --kind "$kind"
done
