#!/usr/bin/env bash
# The .deb, built by tools/package.sh in a build tree of its own (Release,
# Debian's hardening flags; kept inside BUILD_DIR so a second run is
# incremental), unpacks into a scratch root and runs from there:
# reelkeep-cli --version and list, the tools and artwork found beside it, the
# man page shows the commands, the desktop and metainfo files are there, and
# lintian --pedantic, appstreamcli and desktop-file-validate find it clean
# (each skipped where the tool is not installed).
# deb_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/rk_deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "deb_test: $*" >&2; exit 1; }

source=$(cd "$(dirname "$0")/../.." && pwd)
deb=$("$source/tools/package.sh" "$build/package-tree") || fail "tools/package.sh failed"
[ -f "$deb" ] || fail "no .deb made"
dpkg-deb --field "$deb" Package Depends | tee "$scratch/fields" >&2
grep -q '^Package: reelkeep' "$scratch/fields" || fail "package name"
grep -q 'ffmpeg' "$scratch/fields" || fail "depends on ffmpeg"

root=$scratch/root
dpkg -x "$deb" "$root"
cli=$root/usr/bin/reelkeep-cli
folder=$root/usr/libexec/reelkeep
[ -L "$cli" ] || fail "no reelkeep-cli link in /usr/bin"
for f in reelkeep-cli loop.png; do
  [ -e "$folder/$f" ] || fail "$f missing from /usr/libexec/reelkeep"
done
# The links are relative: they reach the system's files once installed in /usr.
for f in ffmpeg ffprobe img_convert LCDM2B__.TTF; do
  target=$(readlink "$folder/$f") || fail "$f is not a link in /usr/libexec/reelkeep"
  [ "${target#/}" = "$target" ] || fail "$f links to an absolute path"
  [ -e "$(realpath -m "/usr/libexec/reelkeep/$target")" ] || fail "$f links to nothing on this system"
done
for f in usr/share/applications/reelkeep.desktop usr/share/metainfo/com.korvix.Reelkeep.metainfo.xml \
         usr/share/icons/hicolor/64x64/apps/reelkeep.png usr/share/man/man1/reelkeep-cli.1.gz \
         usr/share/man/man1/reelkeep.1.gz usr/share/doc/reelkeep/copyright usr/share/doc/reelkeep/changelog.gz \
         usr/share/bash-completion/completions/reelkeep-cli usr/lib/udev/rules.d/60-reelkeep-cards.rules; do
  [ -f "$root/$f" ] || fail "$f missing"
done

export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/config XDG_STATE_HOME=$scratch/home/state
export REELKEEP_CARD_DIR=$scratch/cards REELKEEP_EXTRA_DEVICES=
mkdir -p "$HOME" "$REELKEEP_CARD_DIR"
"$cli" --version | grep -q "^reelkeep-cli " || fail "--version"
"$cli" create-image "$REELKEEP_CARD_DIR/demo.img" --size 64M >/dev/null
"$cli" -q format "$REELKEEP_CARD_DIR/demo.img" --mode 0 --yes >/dev/null
"$cli" list | grep -q "demo.img (64 MB)" || fail "list does not show the card"
"$cli" info "$REELKEEP_CARD_DIR/demo.img" | grep -q "HD 1080p50" || fail "info"

man -l "$root/usr/share/man/man1/reelkeep-cli.1.gz" 2>/dev/null | grep -q "add-video" || fail "man page lacks add-video"

# The installed program logs under the state folder, never into its own
# folder, even where it could write there (as root).
mkdir -p "$XDG_CONFIG_HOME/Korvix"
printf '[Debug]\nLog=1\n' >"$XDG_CONFIG_HOME/Korvix/Reelkeep.conf"
"$cli" --version >/dev/null
[ -f "$XDG_STATE_HOME/Korvix/Reelkeep/reelkeep-cli.log" ] || fail "no log in the state folder"
[ ! -e "$folder/reelkeep-cli.log" ] || fail "a log in the installed folder"
[ "$(readlink "$folder/LCDM2B__.TTF")" = ../../share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf ] ||
  fail "the title font is not a link to fonts-dejavu"

# Built hardened: PIE, full RELRO with bind-now, fortified functions.
# (Each listing is kept whole first: grep -q ending a pipe early would fail it.)
exe=$folder/reelkeep-cli
elf=$(readelf -h -l -d --dyn-syms -W "$exe")
grep -q 'Type: *DYN' <<<"$elf" || fail "reelkeep-cli is not a position-independent executable"
grep -q GNU_RELRO <<<"$elf" || fail "reelkeep-cli has no RELRO"
grep -qE 'BIND_NOW|FLAGS.*NOW' <<<"$elf" || fail "reelkeep-cli is not bound now"
grep -qE '__[a-z_]+_chk@' <<<"$elf" || fail "reelkeep-cli uses no fortified functions"

if command -v lintian >/dev/null; then
  lintian --pedantic --no-tag-display-limit "$deb" >"$scratch/lintian" 2>&1 || true
  if grep -qE '^[EW]: ' "$scratch/lintian"; then cat "$scratch/lintian" >&2; fail "lintian finds errors or warnings"; fi
else
  echo "deb_test: lintian not installed, not run"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/com.korvix.Reelkeep.metainfo.xml" ||
    fail "appstreamcli"
fi
if command -v desktop-file-validate >/dev/null; then
  [ -z "$(desktop-file-validate "$root/usr/share/applications/reelkeep.desktop")" ] || fail "desktop-file-validate"
fi
echo "deb_test: ok ($deb)"
