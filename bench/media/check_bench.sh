#!/usr/bin/env bash
# `reelkeep-cli check --frames all` of an HD 1080p50 card holding FRAMES
# really encoded frames, against the decoder's own speed on the same frames
# (`reelkeep-cli decode` of the KAVQ1 file, in pieces of 100 frames into one
# scratch file on tmpfs (RK_BENCH_SCRATCH, default /dev/shm); writing the raw
# pictures is counted against the decoder, so its figure is a little low). Same run, one after the
# other. Prints a ready table row.
#
# Usage: bench/media/check_bench.sh BUILD_DIR [FRAMES] [WORK_DIR]
#   FRAMES defaults to 1000; the frames are encoded first from ffmpeg's test
#   pattern with `reelkeep-cli encode` (not timed).
set -euo pipefail
build=${1:?usage: check_bench.sh BUILD_DIR [FRAMES] [WORK_DIR]}
frames=${2:-1000}
bin=$(cd "$build/bin" && pwd)
cli=$bin/reelkeep-cli
[ -x "$cli" ] || { echo "no $cli: build reelkeep-cli first" >&2; exit 2; }
if [ -n "${3:-}" ]; then work=$3; mkdir -p "$work"; else work=$(mktemp -d "${TMPDIR:-/tmp}/rk-check-bench.XXXXXX"); fi
trap 'rm -rf "$work"' EXIT
# The raw pictures go to memory where it can be had (tmpfs), so that the
# decoder is timed rather than the disk.
scratch=${RK_BENCH_SCRATCH:-/dev/shm}
[ -d "$scratch" ] && [ -w "$scratch" ] || scratch=$work
raw=$(mktemp "$scratch/rk-check-bench-raw.XXXXXX")
trap 'rm -rf "$work" "$raw"' EXIT
now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

seconds=$(awk -v f="$frames" 'BEGIN { printf "%.2f", f / 50 }')
"$bin/ffmpeg" -v error -nostdin -f lavfi -i "testsrc2=s=1920x1080:r=50:d=$seconds" -c:v ffv1 -y "$work/src.mkv"
"$cli" encode "$work/src.mkv" "$work/show.kavq1" --mode 0 >/dev/null 2>&1
rm -f "$work/src.mkv"
card_mib=$(( frames * 33 * 12288 / 1048576 + 96 ))
"$cli" create-image "$work/card.img" --size "${card_mib}M" >/dev/null
"$cli" --yes format "$work/card.img" --mode 0 >/dev/null 2>&1
"$cli" --yes add-video "$work/card.img" "$work/show.kavq1" --name Show >/dev/null 2>&1
got=$(( $(stat -c '%s' "$work/show.kavq1") / (33 * 12288) ))
# Both read their input from the page cache: one read before timing.
cat "$work/card.img" "$work/show.kavq1" >/dev/null

t0=$(now)
"$cli" check "$work/card.img" --frames all >"$work/check.log" 2>/dev/null || { cat "$work/check.log" >&2; exit 1; }
t1=$(now)
for ((first = 0; first < got; first += 100)); do
  "$cli" decode "$work/show.kavq1" "$raw" --first "$first" --count 100 >/dev/null 2>&1
done
t2=$(now)

check_s=$(secs "$t0" "$t1")
decode_s=$(secs "$t1" "$t2")
cfps=$(awk -v n="$got" -v s="$check_s" 'BEGIN { printf "%.1f", n / s }')
dfps=$(awk -v n="$got" -v s="$decode_s" 'BEGIN { printf "%.1f", n / s }')
ratio=$(awk -v c="$cfps" -v d="$dfps" 'BEGIN { printf "%.2f", c / d }')
echo "# $(cat "$work/check.log")"
echo "| check --frames all, ${got} HD frames | ${check_s} s (${cfps} frames/s) | decode: ${decode_s} s (${dfps} frames/s) | ${ratio} |"
