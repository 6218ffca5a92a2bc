#!/usr/bin/env bash
# Installs what is missing, builds Reelkeep and starts it. With no card image
# in the card folder, a formatted demo card image is made there first.
# JOBS limits the parallel jobs of the build (default: every processor).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what is started here; the tests are built by the test command.
cmake --build build -j "${JOBS:-$(nproc)}" --target reelkeep reelkeep-cli

cards=${REELKEEP_CARD_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/Korvix/Reelkeep/cards}
mkdir -p "$cards"
if ! compgen -G "$cards/*.img" >/dev/null; then
  echo "run: no card image yet; making a demo card in $cards/demo.img"
  build/bin/reelkeep-cli create-image "$cards/demo.img" --size 8G
  build/bin/reelkeep-cli format "$cards/demo.img" --mode 0 --yes
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display; starting Reelkeep on a virtual one (xvfb-run)"
  exec xvfb-run -a -s "-screen 0 1600x1000x24" build/bin/reelkeep "$@"
fi
exec build/bin/reelkeep "$@"
