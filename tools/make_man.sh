#!/usr/bin/env bash
# Writes the reelkeep-cli(1) man page from the program's own help, so that
# every command a build has is in it: make_man.sh PROGRAM VERSION OUT
set -euo pipefail
cli=$1 version=$2 out=$3
esc() { sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"; }
{
  echo ".TH REELKEEP-CLI 1 \"\" \"reelkeep-cli $version\" \"User Commands\""
  echo ".SH NAME"
  echo "reelkeep-cli \\- prepare, fill and check the cards of the playout device"
  echo ".SH SYNOPSIS"
  echo ".B reelkeep-cli"
  echo "[\\fB\\-y\\fR] [\\fB\\-q\\fR] [\\fB\\-v\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR...]"
  echo ".SH DESCRIPTION"
  echo "A CARD is a drive number from \\fBlist\\fR (1 to 9), or the path of a card image or of a card reader's block device."
  echo ".PP"
  echo ".nf"
  "$cli" --help | esc
  echo ".fi"
  echo ".SH COMMANDS"
  for cmd in $("$cli" --help | awk '/^Subcommands:/{s=1;next} s&&/^  [a-z]/{print $1}'); do
    echo ".SS $cmd"
    echo ".nf"
    "$cli" "$cmd" --help | esc
    echo ".fi"
  done
  echo ".SH FILES"
  echo "The diagnostic log is written beside the program when its folder is writable, otherwise to"
  echo "\\fI\$XDG_STATE_HOME/Korvix/Reelkeep/\\fR (by default \\fI~/.local/state/Korvix/Reelkeep/\\fR)."
  echo "The settings are in \\fI\$XDG_CONFIG_HOME/Korvix/Reelkeep.conf\\fR."
  echo ".SH EXIT STATUS"
  echo "0 success, 1 the operation failed or was stopped, 2 wrong usage."
} > "$out"
