#!/usr/bin/env bash
# Installs what is missing, builds with the sanitizers, runs the fuzz targets
# briefly and then every test (what CI runs).
# Usage: tools/test.sh [--quick] [ctest arguments...]
#   --quick  the developer's loop: no sanitizers and no fuzzing, an
#            incremental build of its own (build-quick), the unit and e2e
#            tests only (no gui, no install).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

quick=0
if [ "${1:-}" = --quick ]; then
  quick=1
  shift
fi

tools/setup.sh

jobs=$(nproc)

if [ "$quick" = 1 ]; then
  launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B build-quick -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRK_BENCH=OFF "${launcher[@]}" >/dev/null
  cmake --build build-quick -j "$jobs"
  exec ctest --test-dir build-quick --output-on-failure -j "$jobs" -L 'unit|e2e' -LE 'gui|install' "$@"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tools/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRK_SANITIZE=ON -DRK_BENCH=OFF -DRK_WERROR=ON >/dev/null
cmake --build build-test -j "$jobs"

# The fuzz targets need clang's libFuzzer; each runs for a few seconds.
if [ -x fuzz/run.sh ] && command -v clang++ >/dev/null; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DRK_FUZZ=ON -DRK_TESTS=OFF -DRK_BENCH=OFF -DRK_GUI=OFF -DRK_WERROR=ON >/dev/null
  cmake --build build-fuzz -j "$jobs" --target fuzz_all
  fuzz/run.sh build-fuzz
fi

ctest --test-dir build-test --output-on-failure -j "$jobs" "$@"
