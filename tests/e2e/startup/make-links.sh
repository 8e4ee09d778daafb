#!/usr/bin/env bash
# Test fixture: folders reached through links, for the log's link checks. Wine 8 cannot make
# junctions or mount points (FSCTL_SET_REPARSE_POINT answers ERROR_NOT_SUPPORTED, so
# `mklink /j` fails), but a Unix symbolic link to a folder behaves for Windows programs as a
# link on the way: opening a path through it reaches the target, and GetFinalPathNameByHandleW
# names the target. Writes into OUT_DIR:
#   target/TessarvaneUpdater.log     "keep", reached through linked -> target
#   elsewhere/logs/TessarvaneUpdater.log "keep", reached through parent -> elsewhere
#   empty-target/                    empty, reached through linked-empty -> empty-target
#   plain/                           an ordinary folder
# Usage: make-links.sh OUT_DIR
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out/target" "$out/elsewhere/logs" "$out/empty-target" "$out/plain"
printf keep >"$out/target/TessarvaneUpdater.log"
printf keep >"$out/elsewhere/logs/TessarvaneUpdater.log"
ln -s "$out/target" "$out/linked"
ln -s "$out/elsewhere" "$out/parent"
ln -s "$out/empty-target" "$out/linked-empty"
