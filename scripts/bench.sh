#!/usr/bin/env bash
# Runs every benchmark program that was built.
set -euo pipefail
build_dir=$1
for b in "$build_dir"/bench/*; do
    [ -x "$b" ] && [ -f "$b" ] || continue
    echo "== $(basename "$b")"
    "$b"
done
