#!/usr/bin/env bash
# Makes the default alarm sound ring.mp3: two rings of a two-tone bell, about 1.6 s,
# synthesised with sox and encoded with lame (Debian packages sox and lame). The result
# is kept in the repository, so building does not need either tool.
set -euo pipefail
out=${1:-$(dirname "$0")/ring.mp3}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# One strike: a bell-like tone (fundamental plus a quieter fifth) that dies away.
sox -n -r 22050 -c 1 -b 16 "$tmp/hi.wav" synth 0.18 sine 1319 sine 1976 remix - \
    fade q 0.004 0.18 0.14 gain -6
sox -n -r 22050 -c 1 -b 16 "$tmp/lo.wav" synth 0.18 sine 1047 sine 1568 remix - \
    fade q 0.004 0.18 0.14 gain -6
sox -n -r 22050 -c 1 -b 16 "$tmp/gap.wav" trim 0 0.05
sox -n -r 22050 -c 1 -b 16 "$tmp/pause.wav" trim 0 0.35
ring=()
for _ in 1 2; do ring+=("$tmp/hi.wav" "$tmp/gap.wav" "$tmp/lo.wav" "$tmp/gap.wav"); done
sox "${ring[@]}" "$tmp/pause.wav" "${ring[@]}" "$tmp/all.wav" norm -3
lame --quiet -m m -b 48 --resample 22.05 --tt "Quorvane alarm" "$tmp/all.wav" "$out"
