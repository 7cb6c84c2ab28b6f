#!/bin/sh
# Draws the updater's icon with ImageMagick: a white arrow pointing down
# into a tray, on a blue disc. Each size is drawn eight times larger on a
# 32-unit grid and scaled down.
#   usage: updater/make_icon.sh   (writes updater/VelloranUpdater.ico)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

draw() {  # draw <size> <out.png>
    size=$1
    s=$((size * 8 / 32))   # pixels per grid unit on the large canvas
    big=$((size * 8))
    convert -size ${big}x${big} xc:none \
        -stroke '#173f80' -strokewidth $((s * 3 / 2)) -fill '#2f7bef' \
        -draw "circle $((s*16)),$((s*16)) $((s*16)),$((s*2))" \
        -stroke none -fill '#ffffff' \
        -draw "rectangle $((s*13)),$((s*7)) $((s*19)),$((s*16))" \
        -draw "polygon $((s*8)),$((s*15)) $((s*24)),$((s*15)) $((s*16)),$((s*23))" \
        -draw "rectangle $((s*9)),$((s*24)) $((s*23)),$((s*26))" \
        -filter box -resize ${size}x${size} "$2"
}

for size in 16 32 48; do
    draw $size "$work/icon$size.png"
done
convert "$work/icon16.png" "$work/icon32.png" "$work/icon48.png" "$here/VelloranUpdater.ico"
