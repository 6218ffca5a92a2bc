#!/usr/bin/env bash
# An effect from N photographic 1920 x 1080 PNG pictures with a soft alpha:
# `reelkeep-cli add-effect` onto an HD card image (pictures loaded,
# previewed, converted, coded and written, the directory last), against the
# three ffmpeg commands a picture of the original road (preview, RGBA frame,
# 4:2:0 planes; the coding is not even counted on that side) and against
# ffmpeg alone decoding the sequence once, all in the same run. Wall and CPU
# time (user + system of the command and the tools it waited for), printed
# as README table rows. RK_BENCH_BASELINE=BIN_DIR adds another build's
# reelkeep-cli to the same run. The add, the baseline and the single decode
# run RK_BENCH_ROUNDS times (default 3) in turn, and each row gives the
# median wall and the median CPU of its rounds; the per-picture commands run
# once (RK_BENCH_STEPS=0 leaves them out). Usage:
# bench/effects/effect_bench.sh BUILD_DIR [N]
set -euo pipefail
build=${1:?usage: effect_bench.sh BUILD_DIR [N]}
n=${2:-50}
bin=$(cd "$build/bin" && pwd)
base=${RK_BENCH_BASELINE:-}
rounds=${RK_BENCH_ROUNDS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo=${RK_BENCH_PICTURE:-/usr/share/backgrounds/gnome/adwaita-l.webp}
[ -f "$photo" ] || photo=$(ls /usr/share/backgrounds/gnome/*.webp /usr/share/backgrounds/gnome/*.jpg 2>/dev/null | head -1)

# A slow pan over the photograph, so every picture differs, with an alpha
# that is transparent towards the corners and grows over the sequence.
"$bin/ffmpeg" -v error -nostdin -loop 1 -i "$photo" -filter_complex \
  "scale=2400:-2,crop=1920:1080:'n*4':'n*2',format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='clip(320-hypot(X-960,Y-540)/3+N*3,0,255)'" \
  -frames:v "$n" -start_number 1 "$work/seq_%03d.png"

load0=$(cut -d' ' -f1-3 /proc/loadavg)

# One timed command: appends "wall cpu" (seconds) to $work/$1.t.
. "$(dirname "$0")/rounds.sh"
card() {
  rm -f "$work/c.img"
  "$bin/reelkeep-cli" create-image "$work/c.img" --size 1G >/dev/null
  "$bin/reelkeep-cli" format "$work/c.img" --mode 0 --yes >/dev/null 2>&1
}
steps() {
  mkdir -p "$work/steps"
  cd "$work/steps"
  for p in "$work"/seq_*.png; do
    "$bin/ffmpeg" -v quiet -nostdin -i "$p" -vf scale=640:360 -an -pix_fmt bgra -q:v 1 -f rawvideo -y 1.rgb
    "$bin/ffmpeg" -v quiet -nostdin -i "$p" -vf scale=1920:1080 -an -pix_fmt rgba -f rawvideo -y 1.rgb
    "$bin/ffmpeg" -v quiet -nostdin -i "$p" -vf scale=1920:1080:out_range=tv -an -pix_fmt yuv420p -f rawvideo -y 1.yuv
  done
  rm -f 1.rgb 1.yuv
}
export -f steps
export work bin

for ((r = 0; r < rounds; r++)); do
  card
  timed ours "$bin/reelkeep-cli" add-effect "$work/c.img" "$work/seq_001.png" --type mix --yes
  if [ -n "$base" ]; then
    card
    timed base "$base/reelkeep-cli" add-effect "$work/c.img" "$work/seq_001.png" --type mix --yes
  fi
  timed decode "$bin/ffmpeg" -v error -nostdin -i "$work/seq_%03d.png" -f rawvideo -pix_fmt rgba -y /dev/null
done
[ "${RK_BENCH_STEPS:-1}" = 0 ] || timed steps bash -c steps

medians
row() { awk -v n="$n" -v label="$2" '{ printf "| %s | %.1f | %.2f s | %.2f s | %.1f ms |\n", label, n / $1, $1, $2, 1000 * $2 / n }' "$work/$1.m"; }
echo "| $n pictures 1920x1080 with alpha | pictures/s (wall) | wall | CPU | CPU a picture |"
echo "|---|---|---|---|---|"
report add-effect "reelkeep-cli add-effect (whole add)" "three ffmpeg commands a picture (no coding)" \
  "ffmpeg -i seq_%03d.png -f rawvideo -pix_fmt rgba /dev/null" "add-effect against the per-picture commands (x)"
exit 0
