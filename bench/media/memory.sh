#!/usr/bin/env bash
# Peak resident size of the operations that move the most data, each at two
# lengths of its input, so that anything growing with the length shows:
#   - `reelkeep-cli encode` of a 3840x2160 50 fps H.264 source with AAC sound
#     (--mode 1), SHORT and LONG seconds;
#   - `reelkeep-cli add-effect` of FEW and MANY 1920x1080 PNG pictures with
#     alpha onto a fresh HD card image;
#   - `reelkeep-cli backup` of an HD card image holding a show of SMALL and
#     LARGE MiB (four videos of synthetic frame slots).
# The figure is GNU time's maximum resident set size (%M): the largest of
# reelkeep-cli and of the tools it started and waited for (the ffmpeg
# processes of the import and of the effect). Prints README table rows.
#
# Usage: bench/media/memory.sh BUILD_DIR [SHORT LONG [FEW MANY [SMALL LARGE]]]
#   defaults: 2 6 (seconds), 60 250 (pictures), 256 1024 (MiB of show).
# RK_BENCH_WORK keeps the sources between runs (default: a new temporary
# folder); RK_BENCH_PARTS picks among "import effect backup" (default all).
set -euo pipefail
build=${1:?usage: bench/media/memory.sh BUILD_DIR [SHORT LONG [FEW MANY [SMALL LARGE]]]}
short=${2:-2} long=${3:-6} few=${4:-60} many=${5:-250} small=${6:-256} large=${7:-1024}
bin=$(cd "$build/bin" && pwd)
cli=$bin/reelkeep-cli
here=$(cd "$(dirname "$0")/.." && pwd)
work=${RK_BENCH_WORK:-$(mktemp -d)}
[ -n "${RK_BENCH_WORK:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
photos=/usr/share/backgrounds/gnome
ff() { ffmpeg -nostdin -hide_banner -v error "$@"; }
parts=" ${RK_BENCH_PARTS:-import effect backup} "

# Peak resident KiB and wall seconds of one command.
peak() {
  /usr/bin/time -o "$work/mem.txt" -f "%M %e" "$@" >/dev/null 2>&1
  tail -1 "$work/mem.txt"
}
row() {  # LABEL INPUT "KIB SECONDS"
  read -r kib secs <<<"$3"
  awk -v l="$1" -v i="$2" -v k="$kib" -v s="$secs" \
    'BEGIN { printf "| %s | %s | %d KiB (%.0f MiB) | %.1f s |\n", l, i, k, k / 1024, s }'
}

echo "| operation | input | peak resident | wall |"
echo "|---|---|---|---|"

# The import: a photograph slowly panned (every frame differs) with a tone.
for s in "$short" "$long"; do
  [[ $parts == *" import "* ]] || break
  src=$work/src_2160_${s}s.mp4
  [ -f "$src" ] || ff -y -loop 1 -framerate 50 -t "$s" -i "$photos/wood-l.webp" \
    -f lavfi -t "$s" -i "sine=frequency=440:sample_rate=48000" \
    -vf "scale=4800:2700:force_original_aspect_ratio=increase,crop=3840:2160:x='(iw-ow)*t/$s':y='(ih-oh)*t/$s',setsar=1,format=yuv420p" \
    -r 50 -c:v libx264 -preset fast -crf 18 -pix_fmt yuv420p -c:a aac -b:a 192k -ac 2 "$src"
  row "encode --mode 1, 3840x2160 H.264 + AAC" "$s s ($((s * 50)) frames)" \
    "$(peak "$cli" --yes encode "$src" "$work/out.kavq1" --mode 1)"
  rm -f "$work/out.kavq1"
done

# The effect: FEW pictures with a soft alpha, made as
# bench/effects/effect_bench.sh makes them (the alpha's per-pixel expression
# takes seconds a picture here); the longer sequence repeats them in turn,
# which costs the add the same work and memory a picture.
for n in "$few" "$many"; do
  [[ $parts == *" effect "* ]] || break
  uniq=$work/seq_$few seq=$work/seq_$n
  if [ ! -f "$uniq/seq_001.png" ]; then
    mkdir -p "$uniq"
    ff -loop 1 -i "$photos/adwaita-l.webp" -filter_complex \
      "scale=2400:-2,crop=1920:1080:'n*4':'n*2',format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='clip(320-hypot(X-960,Y-540)/3+N*3,0,255)'" \
      -frames:v "$few" -start_number 1 "$uniq/seq_%03d.png"
  fi
  if [ ! -f "$seq/$(printf 'seq_%03d.png' "$n")" ]; then
    mkdir -p "$seq"
    for ((i = 1; i <= n; ++i)); do
      cp "$uniq/$(printf 'seq_%03d.png' $(((i - 1) % few + 1)))" "$seq/$(printf 'seq_%03d.png' "$i")"
    done
  fi
  rm -f "$work/effect.img"
  "$cli" create-image "$work/effect.img" --size 1G >/dev/null
  "$cli" --yes format "$work/effect.img" --mode 0 >/dev/null 2>&1
  row "add-effect --type mix, 1920x1080 PNG with alpha" "$n pictures" \
    "$(peak "$cli" --yes add-effect "$work/effect.img" "$seq/seq_001.png" --type mix)"
  rm -f "$work/effect.img"
done

# The backup: a card holding four videos of synthetic slots.
slot=$((33 * 12288))
for mib in "$small" "$large"; do
  [[ $parts == *" backup "* ]] || break
  rm -f "$work/show.img" "$work/backup.img"
  "$cli" create-image "$work/show.img" --size "$((mib + mib / 8 + 64))M" >/dev/null
  "$cli" --yes format "$work/show.img" --mode 0 >/dev/null 2>&1
  python3 "$here/card/make_show.py" "$work/part.kavq1" "$((mib * 1048576 / slot / 4))"
  for i in 1 2 3 4; do "$cli" --yes add-video "$work/show.img" "$work/part.kavq1" --name "Part $i" >/dev/null 2>&1; done
  rm -f "$work/part.kavq1"
  row "backup, HD card image" "$mib MiB show" "$(peak "$cli" backup "$work/show.img" "$work/backup.img")"
  rm -f "$work/show.img" "$work/backup.img"
done
