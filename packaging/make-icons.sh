#!/usr/bin/env bash
# Renders the program's icon (gui/resources/icon128.svg) into the PNG sizes of the hicolor
# theme (rsvg-convert, Debian package librsvg2-bin). The PNGs are kept in the repository.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
svg="$here/../gui/resources/icon128.svg"
for size in 16 32 48 256; do
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$here/icons/quorvane-$size.png"
done
