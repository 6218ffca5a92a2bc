#!/bin/sh
# A playlist edit as the operator makes it: the title card remade (decode,
# ffmpeg, ImageMagick, the import encoder, the card write) and the directory
# written. Times `playlist CARD 1 mode repeat|stop` on an HD and a 4K card
# image in a private temporary folder.
# Usage: bench/media/playlist_edit.sh BUILD_BIN_DIR [RUNS]
set -eu
BIN=${1:?build bin folder}
RUNS=${2:-5}
CLI="$BIN/reelkeep-cli"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
for MODE in 0 1; do
  if [ "$MODE" = 0 ]; then SIZE=1920x1080; MIB=64; else SIZE=3840x2160; MIB=128; fi
  "$BIN/ffmpeg" -v error -f lavfi -i "testsrc=size=$SIZE:rate=50" -t 0.1 -pix_fmt yuv420p "$WORK/s.mp4"
  "$CLI" create-image "$WORK/c.img" --size ${MIB}M >/dev/null
  "$CLI" --yes format "$WORK/c.img" --mode "$MODE" >/dev/null 2>&1
  "$CLI" add-video "$WORK/c.img" "$WORK/s.mp4" --yes >/dev/null 2>&1
  "$CLI" playlist "$WORK/c.img" 1 add 1 >/dev/null 2>&1
  total=0
  i=0
  while [ "$i" -lt "$RUNS" ]; do
    if [ $((i % 2)) = 0 ]; then M=repeat; else M=stop; fi
    start=$(date +%s%N)
    "$CLI" playlist "$WORK/c.img" 1 mode "$M" >/dev/null 2>&1
    end=$(date +%s%N)
    total=$((total + (end - start) / 1000000))
    i=$((i + 1))
  done
  echo "mode $MODE ($SIZE): $((total / RUNS)) ms per playlist edit (mean of $RUNS)"
  rm -f "$WORK/c.img" "$WORK/s.mp4"
done
