#!/usr/bin/env bash
# Makes docs/player.png: the player showing an effect over the checkerboard,
# its wipe marker and its position and fade, as the player's widget test
# builds it on a card image (offscreen platform, no display needed).
# Usage: docs/screenshot_player.sh [BIN_DIR]   (default: build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/bin}")
out="$PWD/docs/player.png"
cd "$bin"
QT_QPA_PLATFORM=offscreen RK_PLAYER_SCREENSHOT="$out" \
  ./app_window_tests --gtest_filter='PlayerWindowTest.EffectShowsOverTheCheckerboardWithItsMarksAndItsAlpha' >/dev/null
echo "screenshot: docs/player.png"
