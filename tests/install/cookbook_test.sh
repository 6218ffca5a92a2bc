#!/usr/bin/env bash
# Runs the README's cookbook lines as they stand, in a scratch folder with two
# short clips in clips/, a picture, an effect's sequence and a logo's. A line whose command this build does not have yet is
# reported and skipped; every other line must succeed.
# cookbook_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$(cd "$1" && pwd) build=$(cd "$2" && pwd)
cli=$build/bin/reelkeep-cli
scratch=$(mktemp -d "${TMPDIR:-/tmp}/rk_cookbook.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config REELKEEP_CARD_DIR=$scratch/cards REELKEEP_EXTRA_DEVICES=
mkdir -p "$scratch/clips" "$REELKEEP_CARD_DIR"
cd "$scratch"
for clip in intro outro; do
  "$build/bin/ffmpeg" -v error -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi -i sine=frequency=440 \
    -t 0.2 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest "clips/$clip.mp4"
done

# A still, a 1920x1080 picture sequence with transparency for the effect,
# and a numbered logo.
mkdir -p pictures sting logo
"$build/bin/ffmpeg" -v error -f lavfi -i smptebars=size=640x360 -frames:v 1 pictures/still.png
"$build/bin/ffmpeg" -v error -f lavfi -i color=c=red@0.5:s=1920x1080:r=25 -vf format=rgba -frames:v 8 \
  -start_number 1 sting/sting_%02d.png
"$build/bin/ffmpeg" -v error -f lavfi -i color=c=blue@0.5:s=320x180:r=25 -vf format=rgba -frames:v 3 \
  -start_number 1 logo/logo_%02d.png

commands=" $("$cli" --help | awk '/^Subcommands:/{s=1;next} s&&/^  [a-z]/{printf "%s ", $1}') "
lines=$(awk '/<!-- cookbook/{c=1;next} c&&/^```sh/{b=1;next} b&&/^```/{exit} b' "$src/README.md")
[ -n "$lines" ] || { echo "cookbook_test: no cookbook in README.md" >&2; exit 1; }
ran=0 skipped=0
while IFS= read -r line; do
  case $line in ''|'#'*) continue ;; esac
  read -r -a words <<<"$line"
  [ "${words[0]}" = reelkeep-cli ] || { echo "cookbook_test: not a reelkeep-cli line: $line" >&2; exit 1; }
  if [[ $commands != *" ${words[1]} "* ]]; then
    echo "cookbook_test: skipped (no '${words[1]}' command in this build): $line"
    skipped=$((skipped + 1))
    continue
  fi
  if ! "$cli" "${words[@]:1}" </dev/null >"$scratch/out" 2>"$scratch/err"; then
    echo "cookbook_test: failed: $line" >&2
    cat "$scratch/out" "$scratch/err" >&2
    exit 1
  fi
  ran=$((ran + 1))
done <<<"$lines"
[ "$ran" -ge 30 ] || { echo "cookbook_test: only $ran lines ran" >&2; exit 1; }
echo "cookbook_test: ok, $ran lines ran, $skipped skipped"
