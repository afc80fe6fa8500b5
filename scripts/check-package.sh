#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine (root), tries both installed
# programs, removes it again and checks that nothing is left. Run by CI.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/default}
[ "$(id -u)" -eq 0 ] || { echo "check-package: needs root (dpkg -i)"; exit 1; }

fail() { echo "check-package: FAILED: $*" >&2; exit 1; }

cmake --build "$build_dir" --target package
deb=$(ls -t "$build_dir"/quorvane_*.deb | head -n 1)
echo "== $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

echo "== lintian"
lintian_out=$(lintian --display-info --fail-on error --suppress-tags no-manual-page "$deb") || {
    echo "$lintian_out"; fail "lintian reports errors"; }
echo "$lintian_out"
# The release build is hardened: full RELRO (-z now) and fortified functions.
if echo "$lintian_out" | grep -q 'hardening-'; then fail "lintian reports missing hardening"; fi

echo "== install"
dpkg -i "$deb" || fail "dpkg -i"
for program in /usr/bin/Quorvane /usr/bin/HalvoricSvc; do
    [ -x "$program" ] || fail "$program missing"
    getcap "$program" | grep -q 'cap_net_raw=ep' || fail "$program lacks CAP_NET_RAW ($(getcap "$program"))"
done
[ -f /usr/share/quorvane/ring.mp3 ] || fail "default alarm sound missing"
for example in prometheus-quorvane.yml prometheus-quorvane-rules.yml grafana-quorvane-dashboard.json; do
    [ -f "/usr/share/quorvane/$example" ] || fail "$example missing"
done

echo "== AppStream metadata"
metainfo=/usr/share/metainfo/org.quorvane.Quorvane.metainfo.xml
[ -f "$metainfo" ] || fail "$metainfo missing"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $metainfo"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== HalvoricSvc from the installed path"
mkdir -p "$work/svc"
printf '0 127.0.0.1 1000\r\r\n' > "$work/svc/conf01.dat"
printf '[metrics]\nlisten = 127.0.0.1:19462\n' > "$work/svc/quorvane.conf"
/usr/bin/HalvoricSvc "$work/svc" 2> "$work/svc.err" &
svc=$!
sleep 4
# Its metrics endpoint, with the HTTP server library the package depends on.
exec 3<>/dev/tcp/127.0.0.1/19462 || fail "no metrics endpoint on 127.0.0.1:19462"
printf 'GET /metrics HTTP/1.0\r\n\r\n' >&3
scrape=$(cat <&3)
exec 3<&-
echo "$scrape" | grep -q '^quorvane_host_up{host="127.0.0.1",kind="icmp"} ' ||
    fail "the metrics do not show the host: $scrape"
kill -TERM "$svc"
wait "$svc" || fail "HalvoricSvc ended with status $?"
log="$work/svc/BrevixSvc.log"
cat "$log"
grep -q 'Start' "$log" || fail "service log has no start line"
grep -q '127.0.0.1' "$log" || fail "service log does not name its host"

echo "== Quorvane on the offscreen platform"
mkdir -p "$work/gui"
APPDATA="$work/gui" QT_QPA_PLATFORM=offscreen /usr/bin/Quorvane > "$work/gui.out" 2>&1 &
gui=$!
sleep 4
kill -0 "$gui" 2>/dev/null || { cat "$work/gui.out"; fail "Quorvane did not stay up"; }
kill -TERM "$gui"
status=0
wait "$gui" || status=$?
cat "$work/gui.out"
[ "$status" -eq 0 ] || fail "Quorvane ended with status $status on SIGTERM"

echo "== remove, with a service unit made for the packaged program"
unit=/etc/systemd/system/halvoric.service
[ -e "$unit" ] && fail "$unit is there before the test (this machine's own service?)"
printf '[Service]\nExecStart=/usr/bin/HalvoricSvc %s\n[Install]\nWantedBy=multi-user.target\n' \
    "$work/svc" > "$unit"
mkdir -p /etc/systemd/system/multi-user.target.wants
ln -sf "$unit" /etc/systemd/system/multi-user.target.wants/halvoric.service
dpkg -r quorvane || fail "dpkg -r"
left=$(ls /usr/bin/Quorvane /usr/bin/HalvoricSvc /usr/share/quorvane "$unit" \
          /etc/systemd/system/multi-user.target.wants/halvoric.service 2>/dev/null || true)
[ -z "$left" ] || fail "left behind after removal: $left"

echo "== purge leaves the users' data alone"
dpkg --purge quorvane || fail "dpkg --purge"
[ -f "$work/svc/conf01.dat" ] && [ -d "$work/gui/Tarnwick" ] || fail "purge removed a data folder"
echo "check-package: OK"
