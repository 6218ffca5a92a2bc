#!/usr/bin/env bash
# KVQ1 against ffmpeg's mjpeg and prores_ks (profile 3), one thread, on the
# same photographs, in one run. Usage:
#   bench/codec/compare.sh BUILD_DIR [PICTURE]
# BUILD_DIR holds bin/codec_bench (a RelWithDebInfo build with RK_BENCH=ON).
# CPU time (user) is what is compared, so a busy machine skews the figures less.
set -euo pipefail
build=${1:?usage: bench/codec/compare.sh BUILD_DIR [PICTURE]}
picture=${2:-licorice-l}
export RK_BENCH_PICTURE=$picture
data=${RK_TEST_DATA:-/tmp/rk-testdata}/codec
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== KVQ1 (Google Benchmark, process CPU time) on $picture"
"$build/bin/codec_bench" --benchmark_min_time=${RK_BENCH_MIN_TIME:-2} --benchmark_format=console 2>/dev/null | grep -E "^BM_" |
  tee "$work/kvq1.txt"

# user seconds of one ffmpeg run (-benchmark prints "bench: utime=...s").
utime() { "$@" -benchmark 2>&1 | sed -n 's/.*bench: utime=\([0-9.]*\)s.*/\1/p' | tail -1; }
fps() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.1f", n / t }'; }

for size in 1920x1080 3840x2160; do
  raw=$data/${picture}_$size.yuv
  [ -f "$raw" ] || { echo "missing $raw (codec_bench makes it)"; exit 1; }
  n=$([ "$size" = 1920x1080 ] && echo 40 || echo 12)
  in=(-f rawvideo -pix_fmt yuv420p -s "$size" -stream_loop $((n - 1)) -i "$raw")
  ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s "$size" -i "$raw" -pix_fmt yuv422p10le -f rawvideo "$work/p10.raw"
  in10=(-f rawvideo -pix_fmt yuv422p10le -s "$size" -stream_loop $((n - 1)) -i "$work/p10.raw")

  te=$(utime ffmpeg -nostdin -hide_banner -nostats -v info -y -threads 1 "${in[@]}" -threads 1 -c:v mjpeg -q:v 2 -strict -1 -pix_fmt yuv420p -f mjpeg "$work/m.mjpeg")
  bytes=$(( $(stat -c %s "$work/m.mjpeg") / n ))
  td=$(utime ffmpeg -nostdin -hide_banner -nostats -v info -threads 1 -i "$work/m.mjpeg" -threads 1 -f null -)
  echo "== ffmpeg mjpeg -q:v 2 $size: encode $(fps $n "$te") fps, decode $(fps $n "$td") fps, $bytes bytes/frame"

  te=$(utime ffmpeg -nostdin -hide_banner -nostats -v info -y -threads 1 "${in10[@]}" -threads 1 -c:v prores_ks -profile:v 3 -f mov "$work/p.mov")
  bytes=$(( $(stat -c %s "$work/p.mov") / n ))
  td=$(utime ffmpeg -nostdin -hide_banner -nostats -v info -threads 1 -i "$work/p.mov" -threads 1 -f null -)
  echo "== ffmpeg prores_ks profile 3 $size: encode $(fps $n "$te") fps, decode $(fps $n "$td") fps, $bytes bytes/frame"
done
