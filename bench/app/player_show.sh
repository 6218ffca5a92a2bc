#!/usr/bin/env bash
# The player window's decode-and-show rate at 1080p50 and 2160p50 (frames
# shown a second with the display throttle off), then the decoder's own rate
# and the read-ahead queue's on the same photograph, for the comparison in
# bench/README.md.
# Usage: bench/app/player_show.sh [BIN_DIR]   (default: build/bin)
set -euo pipefail
cd "$(dirname "$0")/../.."
bin=$(realpath "${1:-build/bin}")
export QT_QPA_PLATFORM=offscreen
for run in 1 2 3; do
  echo "run $run, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  "$bin/player_show_bench"
done
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -x "$bin/player_bench" ]; then
  "$bin/player_bench" --benchmark_filter='BM_Decoder|BM_Prefetched' --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true
fi
