#!/usr/bin/env bash
# Draws Reelkeep's own artwork with ImageMagick 6 and writes the PNGs beside
# this script. The PNGs are committed; run this again after changing a picture.
set -euo pipefail
cd "$(dirname "$0")"
IM=/usr/bin/convert-im6.q16
mkdir -p png

# 130: the dialog background: a soft vertical shade with a fine grain. It is
# stretched over the whole dialog, so it carries no structure that would
# show as streaks when scaled up.
$IM -size 128x128 gradient:'#3b3d42'-'#25262a' -seed 7 -attenuate 0.08 +noise Gaussian \
    -depth 8 png/background.png

# 138: the background of the list views, tiled: an even dark grain with no
# shade, so the tiles meet without seams.
$IM -size 128x128 xc:'#1d1e22' -seed 11 -attenuate 0.12 +noise Gaussian \
    -depth 8 png/list_background.png

# 128: the window icon, a reel.
$IM -size 64x64 xc:none -fill '#2a7fd4' -stroke '#0d3a66' -strokewidth 3 -draw 'circle 32,32 32,3' \
    -fill '#0d3a66' -stroke none \
    -draw 'circle 32,16 32,10' -draw 'circle 32,48 32,42' -draw 'circle 16,32 16,26' -draw 'circle 48,32 48,26' \
    -fill '#e8e8e8' -draw 'circle 32,32 32,28' png/app_icon.png

# 301 warning, 302 information, 303 error, 304 question: 32x32 each.
icon() { # name, shape-draw, fill, stroke, glyph, glyph colour
  $IM -size 32x32 xc:none -fill "$3" -stroke "$4" -strokewidth 1.5 -draw "$2" \
      -fill "$6" -stroke none -font DejaVu-Sans-Bold -pointsize 20 -gravity center \
      -annotate +0+1 "$5" "png/$1.png"
}
icon icon_warning     'polygon 16,2 30,29 2,29' '#e0a800' '#7a5c00' '!' '#202020'
icon icon_information 'circle 16,16 16,2'       '#2f7fd0' '#163f6a' 'i' '#ffffff'
icon icon_error       'circle 16,16 16,2'       '#cc2a2a' '#6a1010' 'x' '#ffffff'
icon icon_question    'circle 16,16 16,2'       '#2f9a4a' '#124a22' '?' '#ffffff'

# Button pictures: normal, hovered, pressed and disabled faces, stretched over
# each button by nine-slice borders of 4 pixels.
face() { # name, top colour, bottom colour, border colour
  $IM -size 64x24 gradient:"$2"-"$3" \
      \( -size 64x24 xc:none -fill none -stroke "$4" -strokewidth 1 -draw 'roundrectangle 0,0 63,23 4,4' \) \
      -compose Over -composite png/"$1".png
}
face button_normal   '#5a5e66' '#33363c' '#15171a'
face button_hover    '#6c727c' '#3e4249' '#8ab4e8'
face button_pressed  '#2b2e33' '#474b52' '#15171a'
face button_disabled '#3a3c40' '#2e3033' '#26282b'

# 135: dragging an item that can be dropped here; 136: a drop that copies.
$IM -size 32x32 xc:none -fill white -stroke black -strokewidth 1 \
    -draw 'polygon 1,1 1,22 6,17 10,26 13,25 9,16 16,16' \
    -fill '#2a7fd4' -stroke '#0d3a66' -draw 'rectangle 16,18 30,30' png/cursor_drag.png
$IM -size 32x32 xc:none -fill white -stroke black -strokewidth 1 \
    -draw 'polygon 1,1 1,22 6,17 10,26 13,25 9,16 16,16' \
    -fill '#2f9a4a' -stroke '#124a22' -draw 'rectangle 16,18 30,30' \
    -fill white -stroke none -draw 'rectangle 22,20 24,28' -draw 'rectangle 19,23 27,25' png/cursor_drop.png

# The Qt resource file naming every picture by its resource number.
{
  echo '<!DOCTYPE RCC><RCC version="1.0">'
  echo '<qresource prefix="/art">'
  for f in png/*.png; do echo "  <file alias=\"$(basename "$f")\">$f</file>"; done
  echo '</qresource>'
  echo '</RCC>'
} > artwork.qrc
echo "artwork: $(ls png | wc -l) pictures"
