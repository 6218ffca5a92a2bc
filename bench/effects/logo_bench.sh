#!/usr/bin/env bash
# Logo from pictures: reelkeep-cli add-logo of N 960 x 540 pictures with a
# soft alpha onto an HD card image, against the per-picture tool steps of the
# original road (ffmpeg to 1.png, img_convert twice, then the import
# encoder's probe and picture decode of 3.png) run on the same pictures in
# the same run, and against ffmpeg decoding the same pictures once to RGBA
# (the floor any add from pictures pays). Wall and CPU time (user + system
# of the command and the tools it waited for), printed as README table rows
# with the load average. RK_BENCH_BASELINE=BIN_DIR adds another build's
# reelkeep-cli to the same run. The add, the baseline and the single decode
# run RK_BENCH_ROUNDS times (default 3) in turn, and each row gives the
# median wall and the median CPU of its rounds; the tool steps run once
# (RK_BENCH_STEPS=0 leaves them out). Usage:
# bench/effects/logo_bench.sh BUILD_DIR [N]
set -euo pipefail
build=${1:?usage: logo_bench.sh BUILD_DIR [N]}
n=${2:-20}
bin=$(cd "$build/bin" && pwd)
base=${RK_BENCH_BASELINE:-}
rounds=${RK_BENCH_ROUNDS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for i in $(seq 1 "$n"); do
  "$bin/img_convert" -size 960x540 gradient:"rgb($((i * 10 % 256)),120,20)"-"rgb(20,60,230)" \
    \( -size 960x540 radial-gradient:white-black \) -alpha off -compose CopyOpacity -composite \
    PNG32:"$work/$(printf 'logo_%04d.png' "$i")"
done
"$bin/reelkeep-cli" create-image "$work/c0.img" --size 2G >/dev/null
"$bin/reelkeep-cli" format "$work/c0.img" --mode 0 --yes >/dev/null 2>&1

load0=$(cut -d' ' -f1-3 /proc/loadavg)

# One timed command: appends "wall cpu" (seconds) to $work/$1.t.
. "$(dirname "$0")/rounds.sh"
steps() {
  mkdir -p "$work/steps"
  cd "$work/steps"
  for p in "$work"/logo_*.png; do
    "$bin/ffmpeg" -v quiet -i "$p" -filter:v "scale,format=rgba,pad='max(960,iw)':'max(540,ih)':0:0:color=black@0,crop=960:540:0:0" -an -y 1.png
    "$bin/img_convert" 1.png -alpha extract 2.png
    "$bin/img_convert" -size 1920x1080 canvas:black 1.png -geometry "960x540+0+0>" -alpha off -composite 2.png \
      -geometry "960x540+960+0>" -composite -depth 8 3.png
    "$bin/ffprobe" -v quiet -show_entries format=duration -show_streams -select_streams v:0 3.png >/dev/null
    "$bin/ffmpeg" -v quiet -i 3.png -vf "fps=50,scale=1920:1080:out_range=pc" -an -pix_fmt yuv420p -frames:v 1 -f rawvideo -y 3.yuv
    rm -f 1.png 2.png 3.png 3.yuv
  done
}
export -f steps
export work bin

for ((r = 0; r < rounds; r++)); do
  cp "$work/c0.img" "$work/c.img"
  timed ours "$bin/reelkeep-cli" add-logo "$work/c.img" "$work/logo_0001.png" --speed 1
  if [ -n "$base" ]; then
    cp "$work/c0.img" "$work/c.img"
    timed base "$base/reelkeep-cli" add-logo "$work/c.img" "$work/logo_0001.png" --speed 1
  fi
  timed decode "$bin/ffmpeg" -v quiet -nostdin -start_number 1 -i "$work/logo_%04d.png" -f rawvideo -pix_fmt rgba -y /dev/null
done
[ "${RK_BENCH_STEPS:-1}" = 0 ] || timed steps bash -c steps

medians
row() { awk -v n="$n" -v label="$2" '{ printf "| %s | %.1f ms | %.1f ms | %.2f s | %.2f s |\n", label, 1000 * $1 / n, 1000 * $2 / n, $1, $2 }' "$work/$1.m"; }
echo "| $n pictures 960x540 with alpha | wall a picture | CPU a picture | wall | CPU |"
echo "|---|---|---|---|---|"
report add-logo "reelkeep-cli add-logo (whole add)" "tool steps a picture (no coding)" \
  "ffmpeg -i logo_%04d.png -f rawvideo -pix_fmt rgba /dev/null" "add-logo against the tool steps (x)"
exit 0
