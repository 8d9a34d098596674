#!/usr/bin/env bash
# Draws the program's pictures with ImageMagick into ui/images/. The results
# are committed; run this only to change them.
#   chip.jpg       main window picture, shown stretched to 129 x 65
#   about.jpg      about window picture, shown stretched to 129 x 81
#   key.bmp        36 x 49, 256 colours: the lock-write button's golden key;
#                  the colour of the bottom-left pixel is transparent
#   qvx-isp.png    48 x 48, 256 colours: the window icon
#   icons/qvx-isp-N.png  the installed icon at N x N pixels, rendered with
#                  rsvg-convert (Debian package librsvg2-bin) from the
#                  hand-drawn qvx-isp.svg (the same chip and key, to scale),
#                  and at 16 x 16 from icons/qvx-isp-16.svg, drawn on the
#                  pixel grid
set -euo pipefail
cd "$(dirname "$0")/../ui/images"
font=DejaVu-Sans-Bold

# A 40-pin DIP package, pins on both long sides, notch on the left, drawn
# at twice the shown size.
chip() { # width height label
    local w=$1 h=$2 label=$3
    shift 3
    local bx=$((w / 8)) by=$((h / 4)) ex=$((w - w / 8)) ey=$((h - h / 4))
    local pins="" x
    for ((x = bx + 8; x < ex - 6; x += 12)); do
        pins+="rectangle $x,$((by - 9)) $((x + 5)),$by rectangle $x,$ey $((x + 5)),$((ey + 9)) "
    done
    convert -size "${w}x${h}" gradient:'#1d3f8f-#5aa0e6' \
        -fill '#c8c8c8' -stroke '#808080' -draw "$pins" \
        -fill '#202020' -stroke '#000000' -draw "roundrectangle $bx,$by $ex,$ey 4,4" \
        -fill '#3a3a3a' -stroke none -draw "circle $((bx + 14)),$((ey - 12)) $((bx + 19)),$((ey - 12))" \
        -fill '#5aa0e6' -draw "arc $((bx - 9)),$(((by + ey) / 2 - 9)) $((bx + 9)),$(((by + ey) / 2 + 9)) 270,90" \
        -font "$font" -pointsize $((h / 7)) -fill '#f0f0f0' -gravity center -annotate +4+0 "$label" \
        "$@"
}

chip 258 130 "AT89S" -quality 85 -strip chip.jpg
chip 258 162 "AT89S ISP" \
    -font "$font" -pointsize 15 -fill '#ffe680' -gravity south -annotate +0+4 "In-System Programming" \
    -quality 85 -strip about.jpg

# The golden key: a ring at the top, the shank downwards, two bits at the
# bottom right.
convert -size 36x49 xc:'#c0c0c0' \
    -fill '#e8b830' -stroke '#8a6410' -strokewidth 1 \
    -draw "circle 17,10 17,1" \
    -draw "rectangle 15,18 20,45" \
    -draw "rectangle 20,34 27,37" \
    -draw "rectangle 20,41 25,44" \
    -fill '#c0c0c0' -draw "circle 17,10 17,6" \
    -stroke none -fill '#fff0a0' -draw "rectangle 16,20 17,43" -draw "point 12,4 point 11,5 point 10,6" \
    -type Palette -colors 256 BMP3:key.bmp

# The icon: the chip with a small key over it.
iconpins=""
for ((y = 7; y <= 39; y += 5)); do
    iconpins+="rectangle 9,$y 13,$((y + 2)) rectangle 35,$y 39,$((y + 2)) "
done
convert -size 48x48 xc:none \
    -fill '#d0d0d0' -stroke none -draw "$iconpins" \
    -fill '#202020' -stroke '#000000' -draw "roundrectangle 13,4 35,44 3,3" \
    -fill '#3a3a3a' -stroke none -draw "arc 20,1 28,8 0,180" \
    -fill '#e8b830' -stroke '#8a6410' -draw "circle 24,18 24,12" -draw "rectangle 22,23 26,40" -draw "rectangle 26,32 30,35" \
    -fill '#202020' -stroke none -draw "circle 24,18 24,15" \
    -type Palette -colors 256 PNG8:qvx-isp.png

# The installed icon set.
rsvg-convert -w 16 -h 16 icons/qvx-isp-16.svg -o icons/qvx-isp-16.png
for size in 22 24 32 48 64 128 256; do
    rsvg-convert -w $size -h $size qvx-isp.svg -o icons/qvx-isp-$size.png
done
optimize() { convert "$1" -strip "$1"; }
for png in icons/qvx-isp-*.png; do optimize "$png"; done

ls -l chip.jpg about.jpg key.bmp qvx-isp.png qvx-isp.svg icons/
