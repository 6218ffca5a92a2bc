#!/usr/bin/env bash
# Makes the documentation's screenshots (docs/screenshots/*.png) on the
# offscreen platform: a card image with two videos, a still and a playlist
# is made with reelkeep-cli in a private card folder, then the window, the
# About box and the Russian Format question are drawn.
#   tools/screenshots.sh [BUILD_DIR]     (default: build)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$here/build}" && pwd)"
out="$here/docs/screenshots"
cmake --build "$build" --target reelkeep-cli reelkeep_screenshots >/dev/null
bin="$build/bin"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export REELKEEP_CARD_DIR="$work/cards" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$REELKEEP_CARD_DIR" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 LC_ALL=C.UTF-8

ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=50:duration=0.4" -pix_fmt yuv420p "$work/Opening titles.mp4"
ffmpeg -loglevel error -y -f lavfi -i "smptehdbars=size=1920x1080:rate=50:duration=0.4" -pix_fmt yuv420p "$work/Colour bars.mp4"
ffmpeg -loglevel error -y -f lavfi -i "mandelbrot=size=1920x1080" -frames:v 1 "$work/still.png"

card="$REELKEEP_CARD_DIR/Studio B.img"
cli="$bin/reelkeep-cli"
"$cli" -q create-image "$card" --size 2G
"$cli" -q format "$card" --mode 0 --yes
"$cli" -q add-video "$card" "$work/Opening titles.mp4" --yes >/dev/null
"$cli" -q add-video "$card" "$work/Colour bars.mp4" --yes >/dev/null
"$cli" -q add-still "$card" "$work/still.png" --yes >/dev/null
"$cli" -q playlist "$card" 1 add 1
"$cli" -q playlist "$card" 1 add 2

mkdir -p "$out"
"$bin/reelkeep_screenshots" "$out"
