#!/usr/bin/env bash
# Test fixture: a symbolic link under the log's name. Wine 8 cannot make one
# (CreateSymbolicLinkW fails), but a Unix symbolic link to a file behaves for Windows programs as
# one: opening the name reaches the file it leads to. Writes into OUT_DIR:
#   victim.txt                      "keep"
#   logs/TessarvaneUpdater.log      a symbolic link to victim.txt
# Usage: make-file-link.sh OUT_DIR
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out/logs"
printf keep >"$out/victim.txt"
ln -s "$out/victim.txt" "$out/logs/TessarvaneUpdater.log"
