#!/usr/bin/env bash
# Copying an ".effect" file to a card: `reelkeep-cli add-effect CARD FILE.effect`
# (header checks, every slot's clusters copied, thumbnail, directory last)
# against `dd` of the same file with a final sync, one after the other in the
# same run, each three times (medians). The .effect file is made first (not
# timed) from N generated 1920 x 1080 pictures with alpha. Prints README rows.
# Usage: bench/effects/effect_copy_bench.sh BUILD_DIR [N]   (N pictures, default 250)
set -euo pipefail
build=${1:?usage: effect_copy_bench.sh BUILD_DIR [N]}
n=${2:-250}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${RK_BENCH_WORK:-/tmp}/rk-effect-copy-XXXXXX")
trap 'rm -rf "$work"' EXIT

"$bin/ffmpeg" -v error -nostdin -f lavfi -i "testsrc2=size=1920x1080:rate=50" -vf format=rgba \
  -frames:v "$n" -start_number 1 "$work/seq_%03d.png"
card() {
  rm -f "$1"
  "$bin/reelkeep-cli" create-image "$1" --size 2G >/dev/null
  "$bin/reelkeep-cli" format "$1" --mode 0 --yes >/dev/null 2>&1
}
card "$work/src.img"
"$bin/reelkeep-cli" add-effect "$work/src.img" "$work/seq_001.png" --type mix --yes >/dev/null 2>&1
"$bin/reelkeep-cli" read-effect "$work/src.img" 1 "$work/e.effect" --yes >/dev/null 2>&1
rm -f "$work"/seq_*.png "$work/src.img"
bytes=$(stat -c %s "$work/e.effect")

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for round in 1 2 3; do
  card "$work/c.img"
  sync
  /usr/bin/time -f "%e" -o "$work/t" "$bin/reelkeep-cli" add-effect "$work/c.img" "$work/e.effect" --yes >/dev/null 2>&1
  cat "$work/t" >>"$work/ours.t"
  rm -f "$work/dd.out"
  sync
  /usr/bin/time -f "%e" -o "$work/t" dd if="$work/e.effect" of="$work/dd.out" bs=1M conv=fsync status=none
  cat "$work/t" >>"$work/dd.t"
done
ours=$(median <"$work/ours.t")
dd=$(median <"$work/dd.t")
awk -v b="$bytes" -v o="$ours" -v d="$dd" -v n="$n" 'BEGIN {
  printf "| %d-frame .effect, %.1f MB | add-effect FILE.effect: %.2f s (%.0f MB/s) | dd conv=fsync: %.2f s (%.0f MB/s) | %.2f |\n",
    n, b / 1e6, o, b / 1e6 / o, d, b / 1e6 / d, d / o }'
