#!/usr/bin/env bash
# Builds the Debian package from a fresh build tree of its own, with the
# hardening flags Debian's packages are built with (dpkg-buildflags with
# hardening=+all: fortified functions, stack protector, full RELRO, bind
# now, PIE), and prints the .deb's path.
# Usage: tools/package.sh [BUILD_DIR]   (default: build-package)
# JOBS limits the parallel jobs of the build (default: every processor).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-package}
mkdir -p "$build"
build=$(cd "$build" && pwd)

if command -v dpkg-buildflags >/dev/null; then
  export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}
  # dpkg-buildflags maps the source folder away in debug info; the build
  # folder is ours alone.
  CFLAGS=$(dpkg-buildflags --get CFLAGS)
  CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS)
  CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
  export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS" LDFLAGS
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRK_TESTS=OFF -DRK_BENCH=OFF \
  "${launcher[@]}" >"$build/configure.log"
cmake --build "$build" -j "${JOBS:-$(nproc)}" >"$build/build.log" || { tail -40 "$build/build.log" >&2; exit 1; }
(cd "$build" && cpack -G DEB >"$build/cpack.log") || { cat "$build/cpack.log" >&2; exit 1; }
ls "$build"/reelkeep_*.deb | head -1
