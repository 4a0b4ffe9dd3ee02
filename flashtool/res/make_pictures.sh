#!/bin/sh
# Makes the write tool's status pictures and its icon with ImageMagick. The results are committed;
# run this again only to change them (from this folder: sh make_pictures.sh).
set -eu
cd "$(dirname "$0")"

# 263 x 24 pixels, one word centred in the given colours. BMP3: a plain 24-bit bitmap that every
# resource compiler takes.
picture() {  # file, background, text colour, text
    convert -size 263x24 "xc:$2" -font DejaVu-Sans-Bold -pointsize 16 -fill "$3" \
        -gravity center -annotate +0+0 "$4" -type TrueColor "BMP3:$1"
}

convert -size 63x31 "xc:#C0C0C0" -type TrueColor BMP3:idle.bmp
picture success.bmp "#00FF00" "#000000" "Success"
picture fail.bmp "#FF0000" "#000000" "Fail"
picture running.bmp "#FFFF00" "#000000" "Running"
picture countdown3.bmp "#FFFF00" "#FF0000" "3"
picture countdown2.bmp "#FFFF00" "#FF0000" "2"
picture countdown1.bmp "#FFFF00" "#FF0000" "1"

# The application icon: a chip with a downward arrow, at 32 and 16 pixels.
icon() {  # size, file
    s=$1
    convert -size "${s}x${s}" xc:none -fill "#1F4E79" -draw "roundrectangle 1,1 $((s-2)),$((s-2)) 3,3" \
        -fill "#FFFFFF" -draw "polygon $((s/2)),$((s*3/4)) $((s/4)),$((s/2-1)) $((s*3/4)),$((s/2-1))" \
        -draw "rectangle $((s/2-s/10)),$((s/5)) $((s/2+s/10)),$((s/2))" "$2"
}
icon 32 icon32.png
icon 16 icon16.png
convert icon32.png icon16.png Orlinde.ico
rm -f icon32.png icon16.png
