#!/usr/bin/env bash
# Restore of one show to four card images against dd of the same used bytes.
# A card image of an HD 1080p50 show of SHOW_MIB MiB (four videos of
# synthetic frame slots) is backed up; then, one after the other in the same
# run: `reelkeep-cli restore` of the backup to four fresh card images (each
# target in its own thread, item data first, directory last, then every
# referenced Cluster read back and compared), and four dd runs of the same
# used bytes, each with a final sync (conv=fsync). Prints a ready table row.
#
# Usage: bench/card/restore_bench.sh BUILD_DIR [SHOW_MIB] [WORK_DIR]
#   SHOW_MIB defaults to 2048 (needs about 7 x SHOW_MIB of free disk);
#   WORK_DIR defaults to a new folder in $TMPDIR (or /tmp), removed at the end.
set -euo pipefail
build=${1:?usage: restore_bench.sh BUILD_DIR [SHOW_MIB] [WORK_DIR]}
show_mib=${2:-2048}
here=$(cd "$(dirname "$0")" && pwd)
cli=$(cd "$build/bin" && pwd)/reelkeep-cli
[ -x "$cli" ] || { echo "no $cli: build reelkeep-cli first" >&2; exit 2; }
if [ -n "${3:-}" ]; then work=$3; mkdir -p "$work"; else work=$(mktemp -d "${TMPDIR:-/tmp}/rk-restore-bench.XXXXXX"); fi
trap 'rm -rf "$work"' EXIT

slot=$((33 * 12288))
frames=$((show_mib * 1048576 / slot / 4))
card_mib=$((show_mib + show_mib / 8 + 64))
now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

"$cli" create-image "$work/show.img" --size "${card_mib}M" >/dev/null
"$cli" --yes format "$work/show.img" --mode 0 >/dev/null 2>&1
python3 "$here/make_show.py" "$work/part.kavq1" "$frames"
for i in 1 2 3 4; do
  "$cli" --yes add-video "$work/show.img" "$work/part.kavq1" --name "Part $i" >/dev/null 2>&1
done
rm -f "$work/part.kavq1"
"$cli" backup "$work/show.img" "$work/backup.img" >/dev/null 2>&1
used=$(( $(stat -c '%b' "$work/backup.img") * $(stat -c '%B' "$work/backup.img") ))
used_mib=$(( (used + 1048575) / 1048576 ))

targets=()
for i in 1 2 3 4; do
  "$cli" create-image "$work/r$i.img" --size "${card_mib}M" >/dev/null
  "$cli" create-image "$work/d$i.img" --size "${card_mib}M" >/dev/null
  targets+=("$work/r$i.img")
done
sync

t0=$(now)
"$cli" restore "$work/backup.img" "${targets[@]}" --yes >"$work/restore.log" 2>&1 || { cat "$work/restore.log" >&2; exit 1; }
t1=$(now)
for i in 1 2 3 4; do
  dd if="$work/show.img" of="$work/d$i.img" bs=4M count=$(( (used_mib + 3) / 4 )) conv=notrunc,fsync status=none
done
t2=$(now)

restore_s=$(secs "$t0" "$t1")
dd_s=$(secs "$t1" "$t2")
ratio=$(awk -v r="$restore_s" -v d="$dd_s" 'BEGIN { printf "%.2f", r / d }')
echo "| restore of a ${show_mib} MiB show (${used_mib} MiB used) to 4 images | ${restore_s} s | 4 x dd + fsync: ${dd_s} s | ${ratio} |"
