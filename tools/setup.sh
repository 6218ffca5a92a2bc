#!/usr/bin/env bash
# Installs what Reelkeep needs to build, run and test on Debian 12.
# Idempotent and quiet when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev qt6-translations-l10n
  libtinyxml2-dev libudev-dev libcli11-dev libzimg-dev libswscale-dev libdeflate-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  ffmpeg imagemagick fonts-dejavu-core
  clang libclang-rt-14-dev
  xvfb xauth
  gnome-backgrounds
  util-linux e2fsprogs dosfstools
  lintian appstream desktop-file-utils groff-base man-db
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
