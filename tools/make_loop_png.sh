#!/usr/bin/env bash
# Draws "loop.png", the repeat mark put on the title card of a repeating
# playlist: a white circular arrow with a dark edge on a transparent 100x100
# picture. Our own artwork; the result is committed as convert/assets/loop.png.
# Usage: tools/make_loop_png.sh [output.png]
set -euo pipefail
out=${1:-"$(dirname "$0")/../convert/assets/loop.png"}
im=/usr/bin/convert-im6.q16   # ImageMagick 6 itself, never whatever "convert" is on PATH

arrow_arc='arc 16,16 84,84 40,315'
arrow_head='polygon 87,39 60,33 81,12'

"$im" -size 100x100 xc:none \
  -fill none -stroke '#202020' -strokewidth 18 -draw "$arrow_arc" \
  -fill '#202020' -stroke '#202020' -strokewidth 6 -draw "$arrow_head" \
  -fill none -stroke white -strokewidth 10 -draw "$arrow_arc" \
  -fill white -stroke none -draw "$arrow_head" \
  -define png:exclude-chunks=date,time -strip PNG32:"$out"
echo "wrote $out"
