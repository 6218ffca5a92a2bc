#!/usr/bin/env bash
# Logo from pictures: reelkeep-cli add-logo of N 960 x 540 pictures with a
# soft alpha onto an HD card image, against the per-picture tool steps of the
# original road (ffmpeg to 1.png, img_convert twice, then the import
# encoder's probe and picture decode of 3.png) run on the same pictures in
# the same run, and against ffmpeg decoding the same pictures once to RGBA
# (the floor any add from pictures pays). Wall times; the load average is
# printed with them. Usage: bench/effects/logo_bench.sh BUILD_DIR [N]
set -euo pipefail
build=${1:?usage: logo_bench.sh BUILD_DIR [N]}
n=${2:-20}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for i in $(seq 1 "$n"); do
  "$bin/img_convert" -size 960x540 gradient:"rgb($((i * 10 % 256)),120,20)"-"rgb(20,60,230)" \
    \( -size 960x540 radial-gradient:white-black \) -alpha off -compose CopyOpacity -composite \
    PNG32:"$work/$(printf 'logo_%04d.png' "$i")"
done
"$bin/reelkeep-cli" create-image "$work/c.img" --size 2G >/dev/null
"$bin/reelkeep-cli" format "$work/c.img" --mode 0 --yes >/dev/null 2>&1

now() { date +%s.%N; }
t0=$(now)
"$bin/reelkeep-cli" add-logo "$work/c.img" "$work/logo_0001.png" --speed 1 >/dev/null 2>&1
t1=$(now)
mkdir "$work/steps"
cd "$work/steps"
for i in $(seq 1 "$n"); do
  p="$work/$(printf 'logo_%04d.png' "$i")"
  "$bin/ffmpeg" -v quiet -i "$p" -filter:v "scale,format=rgba,pad='max(960,iw)':'max(540,ih)':0:0:color=black@0,crop=960:540:0:0" -an -y 1.png
  "$bin/img_convert" 1.png -alpha extract 2.png
  "$bin/img_convert" -size 1920x1080 canvas:black 1.png -geometry "960x540+0+0>" -alpha off -composite 2.png \
    -geometry "960x540+960+0>" -composite -depth 8 3.png
  "$bin/ffprobe" -v quiet -show_entries format=duration -show_streams -select_streams v:0 3.png >/dev/null
  "$bin/ffmpeg" -v quiet -i 3.png -vf "fps=50,scale=1920:1080:out_range=pc" -an -pix_fmt yuv420p -frames:v 1 -f rawvideo -y 3.yuv
  rm -f 1.png 2.png 3.png 3.yuv
done
t2=$(now)
"$bin/ffmpeg" -v quiet -nostdin -start_number 1 -i "$work/logo_%04d.png" -f rawvideo -pix_fmt rgba -y /dev/null
t3=$(now)
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v n="$n" -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" 'BEGIN {
  ours = (b - a) / n; steps = (c - b) / n; decode = (d - c) / n;
  printf "pictures %d\nadd-logo: %.3f s a picture (whole add, writes included)\ntool steps: %.3f s a picture\nratio: %.1fx\n", n, ours, steps, steps / ours
  printf "single decode to RGBA: %.3f s a picture\nadd-logo against decoding alone: %.2f\n", decode, decode / ours }'
