#!/usr/bin/env bash
# Runs every fuzzer of a fuzz build briefly: fuzz/run.sh BUILD_DIR [SECONDS]
# Seeds come from the build (fuzz_kvq1_corpus writes real encoded frames);
# findings go to BUILD_DIR/fuzz-findings. Exits 1 when a fuzzer fails.
set -euo pipefail
build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS]}
seconds=${2:-${RK_FUZZ_SECONDS:-5}}
bin=$build/bin
corpus=$build/fuzz-corpus
findings=$build/fuzz-findings
mkdir -p "$corpus" "$findings"

if [ -x "$bin/fuzz_kvq1_corpus" ]; then
  mkdir -p "$corpus/fuzz_kvq1_decoder" "$corpus/fuzz_kvq1_parser"
  "$bin/fuzz_kvq1_corpus" "$corpus/fuzz_kvq1_decoder" "$corpus/fuzz_kvq1_parser" >/dev/null
fi

# Small PNGs of both kinds and every row filter, so the picture decoder's
# fuzzer starts from pictures that inflate.
if [ -x "$bin/fuzz_frame_png" ] && command -v ffmpeg >/dev/null; then
  mkdir -p "$corpus/fuzz_frame_png"
  for fmt in rgb24 rgba; do
    ffmpeg -v error -nostdin -y -f lavfi -i "testsrc2=size=24x7:rate=1" -frames:v 1 -pix_fmt "$fmt" \
      -pred mixed "$corpus/fuzz_frame_png/seed_$fmt.png" || true
  done
fi

status=0
shopt -s nullglob
for fuzzer in "$bin"/fuzz_*; do
  name=$(basename "$fuzzer")
  [ "$name" = fuzz_kvq1_corpus ] && continue
  [ -x "$fuzzer" ] || continue
  mkdir -p "$corpus/$name"
  echo "fuzz: $name for ${seconds}s"
  if ! "$fuzzer" "$corpus/$name" -max_total_time="$seconds" -max_len=1048576 -rss_limit_mb=4096 \
      -artifact_prefix="$findings/$name-" -print_final_stats=0 >"$findings/$name.log" 2>&1; then
    echo "fuzz: $name FAILED (see $findings/$name.log)"
    tail -n 40 "$findings/$name.log"
    status=1
  fi
done
exit $status
