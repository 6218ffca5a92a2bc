#!/usr/bin/env bash
# KVQ1 against ffmpeg's mjpeg and prores_ks (profile 3), one thread, on the
# same photographs, in one run. Usage:
#   bench/codec/compare.sh BUILD_DIR [PICTURE]
# BUILD_DIR holds bin/codec_bench (a RelWithDebInfo build with RK_BENCH=ON).
# CPU time (user) is what is compared, so a busy machine skews the figures
# less; the sides run in turns (RK_BENCH_ROUNDS, default 3) and each figure
# is the median of its rounds, so a drift of the machine's speed reaches
# both sides alike. RK_BENCH_PRORES=0 leaves prores_ks out; RK_BENCH_FILTER
# narrows the benchmark (a --benchmark_filter pattern, e.g. BM_Decode);
# RK_BENCH_BASELINE=DIR runs DIR/bin/codec_bench too, in the same turns,
# its figures and ratios marked "baseline".
set -euo pipefail
build=${1:?usage: bench/codec/compare.sh BUILD_DIR [PICTURE]}
picture=${2:-licorice-l}
rounds=${RK_BENCH_ROUNDS:-3}
prores=${RK_BENCH_PRORES:-1}
filter=${RK_BENCH_FILTER:-BM_}
baseline=${RK_BENCH_BASELINE:-}
export RK_BENCH_PICTURE=$picture
data=${RK_TEST_DATA:-/tmp/rk-testdata}/codec
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# user seconds of one ffmpeg run (-benchmark prints "bench: utime=...s").
utime() { "$@" -benchmark 2>&1 | sed -n 's/.*bench: utime=\([0-9.]*\)s.*/\1/p' | tail -1; }
# "KEY FPS" lines for the medians.
record() { awk -v k="$1" -v n="$2" -v t="$3" 'BEGIN { printf "%s %.2f\n", k, n / t }' >>"$work/fps.txt"; }

# codec_bench makes the raw pictures on its first run.
"$build/bin/codec_bench" --benchmark_filter='class:1/variant:1' --benchmark_min_time=0.01 >/dev/null 2>&1 || true
for size in 1920x1080 3840x2160; do
  raw=$data/${picture}_$size.yuv
  [ -f "$raw" ] || { echo "missing $raw (codec_bench makes it)"; exit 1; }
  [ "$prores" = 0 ] || ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s "$size" -i "$raw" -pix_fmt yuv422p10le -f rawvideo "$work/p10_$size.raw"
done

for round in $(seq "$rounds"); do
  echo "== round $round of $rounds, load average $(cut -d' ' -f1 /proc/loadavg)"
  for side in ${baseline:+baseline} build; do
    bench=$build/bin/codec_bench prefix=
    [ "$side" = baseline ] && bench=$baseline/bin/codec_bench prefix=baseline_
    "$bench" --benchmark_filter="$filter" --benchmark_min_time="${RK_BENCH_MIN_TIME:-1}" --benchmark_format=csv 2>/dev/null |
      awk -F, -v p="$prefix" '/^"BM_/ { gsub(/"/, "", $1); sub(/\/process_time/, "", $1); printf "%s%s %.2f\n", p, $1, 1000 / $4 }' >>"$work/fps.txt"
  done
  for size in 1920x1080 3840x2160; do
    raw=$data/${picture}_$size.yuv
    n=$([ "$size" = 1920x1080 ] && echo 40 || echo 12)
    in=(-f rawvideo -pix_fmt yuv420p -s "$size" -stream_loop $((n - 1)) -i "$raw")
    te=$(utime ffmpeg -nostdin -hide_banner -nostats -v info -y -threads 1 "${in[@]}" -threads 1 -c:v mjpeg -q:v 2 -strict -1 -pix_fmt yuv420p -f mjpeg "$work/m.mjpeg")
    echo "mjpeg_bytes_$size $(( $(stat -c %s "$work/m.mjpeg") / n ))" >>"$work/bytes.txt"
    td=$(utime ffmpeg -nostdin -hide_banner -nostats -v info -threads 1 -i "$work/m.mjpeg" -threads 1 -f null -)
    record "mjpeg_encode_$size" "$n" "$te"
    record "mjpeg_decode_$size" "$n" "$td"
    [ "$prores" = 0 ] && continue
    in10=(-f rawvideo -pix_fmt yuv422p10le -s "$size" -stream_loop $((n - 1)) -i "$work/p10_$size.raw")
    te=$(utime ffmpeg -nostdin -hide_banner -nostats -v info -y -threads 1 "${in10[@]}" -threads 1 -c:v prores_ks -profile:v 3 -f mov "$work/p.mov")
    td=$(utime ffmpeg -nostdin -hide_banner -nostats -v info -threads 1 -i "$work/p.mov" -threads 1 -f null -)
    record "prores_encode_$size" "$n" "$te"
    record "prores_decode_$size" "$n" "$td"
  done
done

echo "== medians of $rounds rounds, frames per CPU second ($picture, one thread)"
sort -k1,1 -k2,2n "$work/fps.txt" | awk '
  { v[$1] = v[$1] " " $2; c[$1]++ }
  END { for (k in v) { split(substr(v[k], 2), a, " "); m = a[int((c[k] + 1) / 2)]; printf "%-40s %8.1f\n", k, m } }' |
  sort | tee "$work/medians.txt"
sort -u "$work/bytes.txt"
echo "== KVQ1 / mjpeg (medians)"
awk '
  { m[$1] = $2 }
  END {
    split("1920x1080 3840x2160", sizes, " ")
    for (s = 1; s <= 2; ++s) {
      size = sizes[s]; class = size == "1920x1080" ? 1 : 2
      for (b = 0; b <= 1; ++b) {
        p = b ? "baseline_" : ""
        for (variant = 1; variant <= 4; ++variant) {
          e = m[p "BM_Encode/class:" class "/variant:" variant]; d = m[p "BM_Decode/class:" class "/variant:" variant]
          if (e != "") printf "%s%s variant %d: encode %.2fx\n", p, size, variant, e / m["mjpeg_encode_" size]
          if (d != "") printf "%s%s variant %d: decode %.2fx\n", p, size, variant, d / m["mjpeg_decode_" size]
        }
      }
    }
  }' "$work/medians.txt"
