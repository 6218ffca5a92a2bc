#!/bin/sh
# A playlist edit as the operator makes it: the title card remade (decode,
# ImageMagick, then our own conversion and coding of its RGBA picture, or
# the import encoder's picture process for a PNG; the card write) and the
# directory written. Times `playlist CARD 1 mode repeat|stop` on an HD and
# a 4K card image in a private temporary folder, wall and CPU time (user +
# system of reelkeep-cli and the tools it waited for), and prints README
# table rows (medians) with the load average before and after.
# RK_BENCH_BASELINE=BIN_DIR times another build's reelkeep-cli in the same
# turns (each run alternates between the two).
# Usage: bench/media/playlist_edit.sh BUILD_BIN_DIR [RUNS]
set -eu
BIN=${1:?build bin folder}
RUNS=${2:-6}
CLI="$BIN/reelkeep-cli"
BASE=${RK_BENCH_BASELINE:-}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM

# One timed edit: appends "wall user sys" (seconds) to $WORK/$2.times.
edit() {
  /usr/bin/time -f "%e %U %S" -o "$WORK/t" "$1" playlist "$WORK/c.img" 1 mode "$3" >/dev/null 2>&1
  cat "$WORK/t" >>"$WORK/$2.times"
}
other() { if [ "$1" = repeat ]; then echo stop; else echo repeat; fi; }
# Median wall and CPU in ms of the runs in $WORK/$1.times (this shared
# machine's speed drifts: a median is steadier than a mean).
median() { sort -n | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.0f", 1000 * m }'; }
means() {
  printf "%s ms | %s ms" "$(awk '{ print $1 }' "$WORK/$1.times" | median)" \
    "$(awk '{ print $2 + $3 }' "$WORK/$1.times" | median)"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| Card | build | wall per edit (median of $RUNS) | CPU per edit (median) |"
echo "|---|---|---|---|"
for MODE in 0 1; do
  if [ "$MODE" = 0 ]; then SIZE=1920x1080; MIB=64; NAME="HD 1080p50"; else SIZE=3840x2160; MIB=128; NAME="4K 2160p50"; fi
  "$BIN/ffmpeg" -v error -f lavfi -i "testsrc=size=$SIZE:rate=50" -t 0.1 -pix_fmt yuv420p "$WORK/s.mp4"
  "$CLI" create-image "$WORK/c.img" --size ${MIB}M >/dev/null
  "$CLI" --yes format "$WORK/c.img" --mode "$MODE" >/dev/null 2>&1
  "$CLI" add-video "$WORK/c.img" "$WORK/s.mp4" --yes >/dev/null 2>&1
  "$CLI" playlist "$WORK/c.img" 1 add 1 >/dev/null 2>&1
  rm -f "$WORK"/*.times
  # Every edit changes the end mode (an edit to the mode it has does
  # nothing). With a baseline the two builds take turns, each drawing the
  # loop mark as often as the other: this R, base S, base R, this S, ...
  i=0
  M=repeat
  while [ "$i" -lt "$RUNS" ]; do
    if [ -z "$BASE" ]; then
      edit "$CLI" this "$M"
    elif [ $((i % 2)) = 0 ]; then
      edit "$CLI" this "$M"; M=$(other "$M"); edit "$BASE/reelkeep-cli" base "$M"
    else
      edit "$BASE/reelkeep-cli" base "$M"; M=$(other "$M"); edit "$CLI" this "$M"
    fi
    M=$(other "$M")
    i=$((i + 1))
  done
  echo "| $NAME | this build | $(means this) |"
  [ -n "$BASE" ] && echo "| $NAME | baseline | $(means base) |"
  rm -f "$WORK/c.img" "$WORK/s.mp4"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
