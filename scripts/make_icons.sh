#!/bin/sh
# Draws the programs' icons with ImageMagick: the monitor's, a hard disk
# with a warning triangle, and the updater's, a white arrow pointing down
# into a tray on a blue disc. The larger sizes are drawn eight times larger
# on a 32-unit grid and scaled down; the monitor's 16-pixel one is drawn
# pixel by pixel, bolder, so that it still reads in the notification area.
#   usage: scripts/make_icons.sh   (writes monitor/BrimWatch.ico, monitor/small.ico
#                                   and updater/VelloranUpdater.ico)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

disk() {  # disk <size> <out.png>
    size=$1
    s=$((size * 8 / 32))   # pixels per grid unit on the large canvas
    big=$((size * 8))
    convert -size ${big}x${big} xc:none \
        -stroke '#262b33' -strokewidth $((s * 3 / 2)) \
        -fill '#6b7685' -draw "roundrectangle $((s*2)),$((s*8)) $((s*30)),$((s*24)) $((s*3)),$((s*3))" \
        -fill '#9aa5b4' -draw "roundrectangle $((s*2)),$((s*8)) $((s*30)),$((s*14)) $((s*3)),$((s*3))" \
        -stroke none -fill '#3ddc5a' -draw "circle $((s*6)),$((s*19)) $((s*7)),$((s*20))" \
        -stroke '#262b33' -strokewidth $((s * 3 / 2)) -fill '#ffc61a' \
        -draw "polygon $((s*22)),$((s*11)) $((s*31)),$((s*30)) $((s*13)),$((s*30))" \
        -stroke none -fill '#1a1a1a' \
        -draw "roundrectangle $((s*21)),$((s*16)) $((s*23)),$((s*24)) $((s/2)),$((s/2))" \
        -draw "rectangle $((s*21)),$((s*26)) $((s*23)),$((s*28))" \
        -filter box -resize ${size}x${size} "$2"
}

disk16() {  # disk16 <out.png>
    convert -size 16x16 xc:none +antialias \
        -fill '#262b33' -draw "roundrectangle 0,3 15,13 2,2" \
        -fill '#6b7685' -draw "rectangle 1,7 14,12" \
        -fill '#9aa5b4' -draw "rectangle 1,4 14,6" \
        -fill '#3ddc5a' -draw "rectangle 3,9 4,10" \
        -fill '#262b33' -draw "polygon 10,3 16,15 4,15" \
        -fill '#ffc61a' -draw "polygon 10,6 14,14 6,14" \
        -fill '#1a1a1a' -draw "rectangle 10,8 10,11" -draw "point 10,13" \
        "$1"
}

arrow() {  # arrow <size> <out.png>
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

disk16 "$work/disk16.png"
for size in 20 24 32 48; do
    disk $size "$work/disk$size.png"
done
convert "$work/disk16.png" "$work/disk24.png" "$work/disk32.png" "$work/disk48.png" "$root/monitor/BrimWatch.ico"
# The tray's icon at every scale from 100 % to 200 %: 16 to 32 pixels.
convert "$work/disk16.png" "$work/disk20.png" "$work/disk24.png" "$work/disk32.png" "$root/monitor/small.ico"

for size in 16 32 48; do
    arrow $size "$work/arrow$size.png"
done
convert "$work/arrow16.png" "$work/arrow32.png" "$work/arrow48.png" "$root/updater/VelloranUpdater.ico"
