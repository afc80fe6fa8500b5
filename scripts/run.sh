#!/usr/bin/env bash
# Starts what there is to run: the desktop program when it is built and a display is
# there, otherwise the service program in the foreground on the same data folder.
set -euo pipefail
build_dir=$1
data_dir=$2
if [ -x "$build_dir/Quorvane" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Data folder: $data_dir (File > Exit ends the program; closing the window hides it)"
    exec "$build_dir/Quorvane"
fi
if [ -x "$build_dir/Quorvane" ]; then
    echo "No display: running the service program in the foreground instead."
else
    echo "The desktop program is not built yet; running the service program in the foreground."
fi
if [ -x "$build_dir/HalvoricSvc" ]; then
    mkdir -p "$data_dir"
    if [ ! -f "$data_dir/conf01.dat" ]; then
        echo "No host list yet ($data_dir/conf01.dat): the service watches no host until it has one."
        echo "One line per host, e.g. '0 127.0.0.1 1000' (ICMP, 1000 ms) or '22 127.0.0.1 5' (TCP port 22, every 5 min)."
    fi
    echo "Data folder: $data_dir (Ctrl+C stops it; its log is $data_dir/BrevixSvc.log)"
    exec "$build_dir/HalvoricSvc" "$data_dir"
fi
echo "Built: the monitoring core library and its tests ($build_dir). Run them with 'make test'."
