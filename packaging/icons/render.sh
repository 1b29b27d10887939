#!/usr/bin/env bash
# Renders the PNG sizes of the icon from echogauge-setup.svg (rsvg-convert, Debian's
# librsvg2-bin). The PNGs are kept in the repository so that a build needs no renderer;
# run this after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
    mkdir -p "${size}x${size}"
    rsvg-convert -w "$size" -h "$size" echogauge-setup.svg -o "${size}x${size}/echogauge-setup.png"
done
