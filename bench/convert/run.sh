#!/usr/bin/env bash
# Importing end to end: reelkeep-cli encode of an H.264 source with sound,
# made from real photographs (gnome-backgrounds, slowly panned so that every
# frame differs), against ffmpeg transcoding the same source on all threads
# to MJPEG at a similar size per frame and to ProRes (prores_ks profile 3),
# in the same run. Usage:
#   bench/convert/run.sh BUILD_DIR [SECONDS_1080] [SECONDS_2160]
# RK_BENCH_ROUNDS (default 3) sets how many turns each table takes,
# RK_BENCH_BASELINE another build folder to time in the same turns, and
# RK_BENCH_WORK a folder that keeps the sources between runs.
# The sources are BT.709, as HD and UHD video is made, so the import takes
# its road without a colour conversion; RK_BENCH_SOURCE_MATRIX=bt601 makes
# BT.601-tagged sources instead (the photographs' own matrix), which the
# import converts to BT.709 in the picture process.
# BUILD_DIR holds bin/reelkeep-cli (a RelWithDebInfo build). Wall time is
# what the operator waits for; user+system CPU time is shown too, since a
# shared machine skews wall time.
set -euo pipefail
build=${1:?usage: bench/convert/run.sh BUILD_DIR [SECONDS_1080] [SECONDS_2160]}
secs_hd=${2:-10}
secs_4k=${3:-4}
cli=$build/bin/reelkeep-cli
work=${RK_BENCH_WORK:-$(mktemp -d)}
mkdir -p "$work"
[ -n "${RK_BENCH_WORK:-}" ] || trap 'rm -rf "$work"' EXIT
photos=/usr/share/backgrounds/gnome
ff() { ffmpeg -nostdin -hide_banner -v error "$@"; }

matrix=${RK_BENCH_SOURCE_MATRIX:-bt709}
case $matrix in
  bt709) tag=src709 ;;
  bt601) tag=src ;;
  *) echo "RK_BENCH_SOURCE_MATRIX: bt709 or bt601" >&2; exit 2 ;;
esac

# A slideshow of photographs, each slowly panned, with a tone: 50 fps H.264,
# tagged with the matrix its samples were made with.
make_source() {  # WIDTH HEIGHT SECONDS OUT
  local w=$1 h=$2 s=$3 out=$4 per inputs=() chain="" i=0 last="" tags=()
  local pics=(adwaita-l licorice-l wood-l truchet-l)
  per=$(awk -v s="$s" -v n=${#pics[@]} 'BEGIN { printf "%.3f", s / n }')
  for p in "${pics[@]}"; do
    inputs+=(-loop 1 -framerate 50 -t "$per" -i "$photos/$p.webp")
    chain+="[$i:v]scale=$((w * 5 / 4)):$((h * 5 / 4)):force_original_aspect_ratio=increase,"
    chain+="crop=$w:$h:x='(iw-ow)*t/$per':y='(ih-oh)*t/$per',setsar=1,format=yuv420p[v$i];"
    i=$((i + 1))
  done
  for ((k = 0; k < i; k++)); do chain+="[v$k]"; done
  if [ "$matrix" = bt709 ]; then
    # Through RGB, so that the scaler makes BT.709 samples (it does not
    # convert between two Y'CbCr matrices).
    chain=${chain//format=yuv420p/format=gbrp}
    last=",scale=out_color_matrix=bt709:out_range=tv,format=yuv420p"
    tags=(-colorspace bt709 -color_primaries bt709 -color_trc bt709)
  fi
  chain+="concat=n=$i:v=1:a=0$last[v]"
  ff -y "${inputs[@]}" -f lavfi -t "$s" -i "sine=frequency=440:sample_rate=48000" \
     -filter_complex "$chain" -map "[v]" -map "$i:a" -r 50 -c:v libx264 -preset fast -crf 18 -pix_fmt yuv420p \
     "${tags[@]}" -c:a aac -b:a 192k -ac 2 "$out"
}

# Times one command: prints "WALL CPU" in seconds.
measure() {
  local ut wall user sys
  /usr/bin/time -o "$work/time.txt" -f "%e %U %S" "$@" >/dev/null 2>&1
  ut=$(tail -1 "$work/time.txt")
  read -r wall user sys <<<"$ut"
  awk -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f %.2f\n", w, u + s }'
}

# The median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# A shared machine's speed drifts over seconds: the commands of one table run
# in turns, $rounds times, and each row shows its median.
rounds=${RK_BENCH_ROUNDS:-3}
# Another build of reelkeep-cli to compare with, in the same turns.
baseline=${RK_BENCH_BASELINE:-}
table() {  # FRAMES, then LABEL=COMMAND lines on standard input
  local frames=$1 labels=() cmds=() line r i
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    labels+=("${line%%=*}")
    cmds+=("${line#*=}")
  done
  for ((i = 0; i < ${#cmds[@]}; i++)); do : >"$work/row$i"; done
  for ((r = 0; r < rounds; r++)); do
    for ((i = 0; i < ${#cmds[@]}; i++)); do
      eval "measure ${cmds[$i]}" >>"$work/row$i"
    done
  done
  for ((i = 0; i < ${#cmds[@]}; i++)); do
    local wall cpu
    wall=$(cut -d' ' -f1 "$work/row$i" | median)
    cpu=$(cut -d' ' -f2 "$work/row$i" | median)
    awk -v l="${labels[$i]}" -v n="$frames" -v w="$wall" -v c="$cpu" \
      'BEGIN { printf "%-50s %6.1f fps  wall %6.2f s  cpu %6.2f s\n", l, n / w, w, c }'
  done
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for run in "1920 1080 $secs_hd 0" "3840 2160 $secs_4k 1"; do
  read -r w h s mode <<<"$run"
  src=$work/${tag}_${h}_${s}s.mp4
  [ -f "$src" ] || make_source "$w" "$h" "$s" "$src"
  frames=$((s * 50))
  slot=$(( (h == 1080 ? 33 : 65) * 12288 ))
  # The MJPEG quantisers the import is measured against: 2 at 1920x1080,
  # 5 at 3840x2160 (RK_MJPEG_Q overrides both).
  q=${RK_MJPEG_Q:-$([ "$h" = 1080 ] && echo 2 || echo 5)}
  echo "== ${w}x${h}, $frames frames at 50 fps (H.264 + AAC from photographs, $matrix), $(nproc) cores, median of $rounds"
  table "$frames" <<EOF2
ffmpeg decode only=ffmpeg -nostdin -v error -i "$src" -f null -
reelkeep-cli encode --mode $mode --deinterlace off="$cli" encode "$src" "$work/out.kavq1" --mode "$mode" --deinterlace off --yes
reelkeep-cli encode --mode $mode (deinterlace on)="$cli" encode "$src" "$work/out.kavq1" --mode "$mode" --yes
${baseline:+baseline build, encode --deinterlace off=\"$baseline/bin/reelkeep-cli\" encode \"$src\" \"$work/out.kavq1\" --mode \"$mode\" --deinterlace off --yes}
ffmpeg -c:v mjpeg -q:v $q -c:a pcm_s24le=ffmpeg -nostdin -v error -y -i "$src" -c:v mjpeg -qmin 1 -q:v "$q" -pix_fmt yuvj420p -c:a pcm_s24le "$work/m.avi"
EOF2
  echo "   KVQ1: $((slot - 12288)) bytes/frame; MJPEG: $(( $(stat -c %s "$work/m.avi") / frames )) bytes/frame"
done

# ProRes export of a .kavq1 (2 s at 1920x1080) against ffmpeg's own
# prores_ks encode of the same decoded pictures from a raw file;
# RK_BENCH_EXPORT_SECONDS=0 leaves it out.
secs_px=${RK_BENCH_EXPORT_SECONDS:-2}
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$secs_px" -gt 0 ] || exit 0
src=$work/${tag}_1080_${secs_px}s.mp4
[ -f "$src" ] || make_source 1920 1080 "$secs_px" "$src"
"$cli" encode "$src" "$work/x.kavq1" --mode 0 --yes >/dev/null 2>&1
ff -y -i "$src" -vf "fps=50,scale=1920:1080:out_range=pc" -an -pix_fmt yuv420p -f rawvideo "$work/x.yuv"
frames=$((secs_px * 50))
echo "== ProRes export, 1920x1080, $frames frames, median of $rounds"
table "$frames" <<EOF2
reelkeep-cli export="$cli" export "$work/x.kavq1" "$work/x.mov" --yes
ffmpeg rawvideo -c:v prores_ks -profile:v 3=ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 50 -i "$work/x.yuv" -c:v prores_ks -profile:v 3 -an "$work/y.mov"
EOF2
rm -f "$work/x.yuv"
