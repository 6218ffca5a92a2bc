#!/usr/bin/env bash
# The man pages render at 80 columns without a warning from groff, no line
# wider than the terminal; reelkeep-cli(1) has a COMMANDS entry for every
# command the program lists and names every environment variable the
# sources read. man_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$(cd "$1" && pwd) build=$(cd "$2" && pwd)
fail() { echo "man_test: $*" >&2; exit 1; }
command -v groff >/dev/null || { echo "man_test: groff not installed, not run"; exit 0; }
export LC_ALL=C.UTF-8 MANWIDTH=80
for page in "$src"/dist/reelkeep-cli.1 "$src"/dist/reelkeep.1; do
  warnings=$(groff -ww -z -man -Tutf8 "$page" 2>&1) || fail "$page: groff failed"
  [ -z "$warnings" ] || fail "$page: $warnings"
  width=$(man -l "$page" 2>/dev/null | wc -L)
  [ "$width" -le 80 ] || fail "$page: a line of $width columns"
done
text=$(man -l "$src/dist/reelkeep-cli.1" 2>/dev/null)
commands=$("$build/bin/reelkeep-cli" --help | awk '/^Subcommands:/{s=1;next} s&&/^  [a-z]/{print $1}')
[ -n "$commands" ] || fail "no commands in --help"
for c in $commands; do
  grep -qE "^       $c( |$)" <<<"$text" || fail "reelkeep-cli(1) has no entry for $c"
done
section=$(awk '/^ENVIRONMENT/{s=1;next} /^[A-Z]/{s=0} s' <<<"$text")
for v in $(grep -rhoE 'getenv\("[A-Z_0-9]+"\)' "$src"/{base,card,codec,convert,media,effects,ui,cli} | sort -u |
           sed -E 's/getenv\("(.*)"\)/\1/'); do
  grep -qw "$v" <<<"$section" || fail "reelkeep-cli(1) ENVIRONMENT lacks $v"
done
for v in LC_ALL LC_MESSAGES LANG; do grep -qw "$v" <<<"$section" || fail "ENVIRONMENT lacks $v"; done
echo "man_test: ok"
