#!/bin/sh
# Deleting a video used in all 16 playlists: the video leaves every
# playlist and each of the 16 title cards is remade before the directory is
# written. An HD card image in a private temporary folder holds two short
# clips, both in every playlist; each run deletes video 1 from a fresh copy
# of that card, timed for wall and CPU (user + system of reelkeep-cli and
# the tools it waited for). Prints README table rows.
# RK_BENCH_BASELINE=BIN_DIR times another build's reelkeep-cli in the same
# turns (each run alternates between the two).
# Usage: bench/media/playlist_delete.sh BUILD_BIN_DIR [RUNS]
set -eu
BIN=${1:?build bin folder}
RUNS=${2:-4}
CLI="$BIN/reelkeep-cli"
BASE=${RK_BENCH_BASELINE:-}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM

# One timed delete: appends "wall user sys" (seconds) to $WORK/$2.times.
run() {
  cp --sparse=always "$WORK/c.img" "$WORK/d.img"
  /usr/bin/time -f "%e %U %S" -o "$WORK/t" "$1" --yes delete "$WORK/d.img" video 1 >/dev/null 2>&1
  cat "$WORK/t" >>"$WORK/$2.times"
  # Every playlist still holds one clip, so every title card was remade.
  [ "$("$CLI" playlists "$WORK/d.img" | awk -F'\t' '$2 == 1' | wc -l)" = 16 ] || {
    echo "the delete left the playlists wrong" >&2; exit 1; }
}
means() {
  awk '{ w += $1; c += $2 + $3; n++ } END { printf "%.2f s | %.2f s", w / n, (c) / n }' "$WORK/$1.times"
}

"$BIN/ffmpeg" -v error -f lavfi -i "testsrc=size=1920x1080:rate=50" -t 0.1 -pix_fmt yuv420p "$WORK/s.mp4"
"$CLI" create-image "$WORK/c.img" --size 64M >/dev/null
"$CLI" --yes format "$WORK/c.img" --mode 0 >/dev/null 2>&1
"$CLI" add-video "$WORK/c.img" "$WORK/s.mp4" --yes >/dev/null 2>&1
"$CLI" add-video "$WORK/c.img" "$WORK/s.mp4" --yes >/dev/null 2>&1
p=1
while [ "$p" -le 16 ]; do
  "$CLI" playlist "$WORK/c.img" "$p" add 1 >/dev/null 2>&1
  "$CLI" playlist "$WORK/c.img" "$p" add 2 >/dev/null 2>&1
  p=$((p + 1))
done
echo "| build | wall per delete (mean of $RUNS) | CPU per delete |"
echo "|---|---|---|"
i=0
while [ "$i" -lt "$RUNS" ]; do
  if [ -z "$BASE" ]; then run "$CLI" this
  elif [ $((i % 2)) = 0 ]; then run "$CLI" this; run "$BASE/reelkeep-cli" base
  else run "$BASE/reelkeep-cli" base; run "$CLI" this
  fi
  i=$((i + 1))
done
echo "| this build | $(means this) |"
[ -n "$BASE" ] && echo "| baseline | $(means base) |"
exit 0
