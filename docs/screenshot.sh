#!/usr/bin/env bash
# Makes docs/screenshot.png: a formatted demo card image with two short
# videos, shown by Reelkeep on a virtual display.
# Usage: docs/screenshot.sh [BIN_DIR]   (default: build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/bin}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/cards" "$work/config/Korvix"
printf '[Layout]\nLeft=0\nTop=0\nWidth=1100\nHeight=780\nMaximized=0\n' > "$work/config/Korvix/Reelkeep.conf"

card="$work/cards/demo.img"
"$bin/reelkeep-cli" create-image "$card" --size 8G >/dev/null
"$bin/reelkeep-cli" format "$card" --mode 0 --yes >/dev/null 2>&1
/usr/bin/ffmpeg -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=50:duration=1 \
  -f lavfi -i sine=frequency=440:duration=1 -shortest -pix_fmt yuv420p "$work/Test pattern.mp4"
/usr/bin/ffmpeg -loglevel error -f lavfi -i mandelbrot=size=1920x1080:rate=50 -t 1 -pix_fmt yuv420p \
  "$work/Mandelbrot zoom.mp4"
"$bin/reelkeep-cli" --yes add-video "$card" "$work/Test pattern.mp4" >/dev/null 2>&1
"$bin/reelkeep-cli" --yes add-video "$card" "$work/Mandelbrot zoom.mp4" >/dev/null 2>&1

cat > "$work/shoot.sh" <<SHOOT
#!/usr/bin/env bash
export XDG_CONFIG_HOME="$work/config" REELKEEP_CARD_DIR="$work/cards" XDG_RUNTIME_DIR="$work"
"$bin/reelkeep" & pid=\$!
sleep 5
/usr/bin/import-im6.q16 -window root -crop 1100x780+0+0 +repage "$PWD/docs/screenshot.png"
kill \$pid
SHOOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 1100x780x24" "$work/shoot.sh"
echo "screenshot: docs/screenshot.png"
