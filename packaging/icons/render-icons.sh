#!/bin/sh
# Renders the application icon's PNG sizes from the SVG into hicolor/NxN/apps/. The PNGs are kept in
# the repository, so building and packaging need no SVG renderer: run this after editing the SVG.
# Needs rsvg-convert (Debian package librsvg2-bin); ImageMagick's built-in SVG reader is not used
# because it drops the gradients.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
name=example.zelvik.ZelvikConfig
if ! command -v rsvg-convert >/dev/null 2>&1; then
    echo "render-icons.sh: rsvg-convert not found (apt-get install librsvg2-bin)" >&2
    exit 1
fi
for size in 16 32 48 64 128 256; do
    out="$here/hicolor/${size}x${size}/apps/$name.png"
    mkdir -p "$(dirname "$out")"
    rsvg-convert --width "$size" --height "$size" --output "$out" "$here/hicolor/scalable/apps/$name.svg"
    echo "$out"
done
