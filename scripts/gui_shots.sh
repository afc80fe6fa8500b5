#!/usr/bin/env bash
# Pictures of the desktop program's dialogs: every GUI test program is run with
# QV_SCREENSHOT_DIR set, and the tests save the dialogs they open there as PNG files
# (tests/gui/shot.h). Uses a private Xvfb server when there is one, else offscreen.
set -euo pipefail
build_dir=${1:-build/default}
out=${2:-shots}
mkdir -p "$out"
export QV_SCREENSHOT_DIR
QV_SCREENSHOT_DIR=$(realpath "$out")
for t in "$build_dir"/gui_*_test; do
    [ -x "$t" ] || continue
    if command -v xvfb-run >/dev/null; then
        QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" "$t" >/dev/null
    else
        QT_QPA_PLATFORM=offscreen "$t" >/dev/null
    fi
done
ls "$QV_SCREENSHOT_DIR"
