#!/usr/bin/env bash
# Draws the program's pictures into res/: the icon (32x32 and 16x16, 32 bits per pixel), the
# banner of the main window (529x79, 24 bpp) and the About box background (418x214, 24 bpp); and
# the icon for the Linux icon theme (res/icons/NN.png, 16 to 256 pixels square).
# Needs ImageMagick and fonts-liberation. The results are committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")/../res"
font=/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf
font_regular=/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Icon: a blue rounded tile with a white pulse line, drawn large and scaled down.
convert -size 256x256 xc:none \
  -fill '#1f5fa8' -draw 'roundrectangle 8,8 248,248 48,48' \
  -fill '#2f7fd0' -draw 'roundrectangle 8,8 248,140 48,48' \
  -stroke white -strokewidth 22 -fill none \
  -draw 'polyline 36,140 90,140 112,80 146,196 170,120 186,140 220,140' \
  "$tmp/icon.png"
convert "$tmp/icon.png" -resize 32x32 -define png:color-type=6 "$tmp/icon32.png"
convert "$tmp/icon.png" -resize 16x16 -define png:color-type=6 "$tmp/icon16.png"
convert "$tmp/icon32.png" "$tmp/icon16.png" -compress None -define icon:format=bmp zeltor.ico
# The same drawing at the sizes of the icon theme's folders; no time stamps, so that the files
# change only when the drawing does.
mkdir -p icons
for size in 16 32 48 64 128 256; do
  convert "$tmp/icon.png" -resize ${size}x${size} -depth 8 -define png:color-type=6 \
    -define png:exclude-chunks=date,time +set comment "icons/$size.png"
done

# Banner: a deep blue gradient, the name, a short line, and the pulse line on the right.
convert -size 529x79 gradient:'#12345e'-'#1f6fb8' -rotate -90 -resize '529x79!' \
  -stroke '#8fc3f0' -strokewidth 3 -fill none \
  -draw 'polyline 360,48 392,48 404,22 420,64 434,36 444,48 520,48' \
  -stroke none -fill white -font "$font" -pointsize 34 -annotate +18+44 'Zeltor' \
  -fill '#cfe4f7' -font "$font_regular" -pointsize 13 -annotate +20+66 'Domain controller health at a glance' \
  -type TrueColor BMP3:banner.bmp

# About box background: a calm light gradient with a faint pulse line near the bottom.
convert -size 418x214 gradient:'#ffffff'-'#dce8f5' \
  -stroke '#c3d6ec' -strokewidth 4 -fill none \
  -draw 'polyline 0,190 150,190 175,160 205,208 228,176 245,190 418,190' \
  -type TrueColor BMP3:background.bmp

identify zeltor.ico banner.bmp background.bmp icons/*.png
