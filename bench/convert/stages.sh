#!/usr/bin/env bash
# Where an import's time goes, stage by stage, on the sources run.sh makes
# (run run.sh first with the same RK_BENCH_WORK). Usage:
#   RK_BENCH_WORK=DIR bench/convert/stages.sh BUILD_DIR [SECONDS_1080] [SECONDS_2160]
# Each row adds one stage to the one before: the decoding process alone,
# then with the import's picture chain (fps, scaler pass-through, the range
# table, the deinterlacer that passes progressive frames), then writing the
# raw pictures through a pipe, then the whole import; the sound process is
# timed on its own. The filter text mirrors convert/picture_filter.cpp for
# an 8-bit 4:2:0 limited-range source at the card's size: the scaler passes
# the pictures through, and the import expands their range itself as it
# reads them (counted in the whole import's row).
set -euo pipefail
build=${1:?usage: bench/convert/stages.sh BUILD_DIR [SECONDS_1080] [SECONDS_2160]}
secs_hd=${2:-10}
secs_4k=${3:-4}
cli=$build/bin/reelkeep-cli
work=${RK_BENCH_WORK:?set RK_BENCH_WORK to the source folder of run.sh}
rounds=${RK_BENCH_ROUNDS:-3}

measure() {
  /usr/bin/time -o "$work/time.txt" -f "%e %U %S" bash -c "$1" >/dev/null 2>&1
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$work/time.txt" | tail -1
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for run in "1920 1080 $secs_hd 0" "3840 2160 $secs_4k 1"; do
  read -r w h s mode <<<"$run"
  src=$work/src_${h}_${s}s.mp4
  [ -f "$src" ] || { echo "no $src: run bench/convert/run.sh first"; exit 1; }
  frames=$((s * 50))
  chain="yadif=mode=send_field:deint=interlaced,fps=50,scale=$w:$h:out_range=tv"
  labels=("decoding process alone" "+ picture conversion" "+ pipe (raw pictures read by cat)"
          "whole import (reelkeep-cli encode)" "sound process alone")
  cmds=("ffmpeg -nostdin -v error -i '$src' -an -f null -"
        "ffmpeg -nostdin -v error -i '$src' -vf \"$chain\" -an -pix_fmt yuv420p -r 50 -f null -"
        "ffmpeg -nostdin -v error -i '$src' -vf \"$chain\" -an -pix_fmt yuv420p -r 50 -f rawvideo - | cat >/dev/null"
        "'$cli' encode '$src' '$work/out.kavq1' --mode $mode --yes"
        "ffmpeg -nostdin -v error -i '$src' -vn -f s24le -ar 48000 -ac 2 -acodec pcm_s24le - | cat >/dev/null")
  for ((i = 0; i < ${#cmds[@]}; i++)); do : >"$work/stage$i"; done
  for ((r = 0; r < rounds; r++)); do
    for ((i = 0; i < ${#cmds[@]}; i++)); do measure "${cmds[$i]}" >>"$work/stage$i"; done
  done
  echo "== stages, ${w}x${h}, $frames frames, median of $rounds"
  for ((i = 0; i < ${#cmds[@]}; i++)); do
    wall=$(cut -d' ' -f1 "$work/stage$i" | median)
    cpu=$(cut -d' ' -f2 "$work/stage$i" | median)
    awk -v l="${labels[$i]}" -v n="$frames" -v w="$wall" -v c="$cpu" \
      'BEGIN { printf "%-40s %6.1f fps  wall %6.2f s  cpu %6.2f s  cpu/frame %5.2f ms\n", l, n / w, w, c, 1000 * c / n }'
  done
done
