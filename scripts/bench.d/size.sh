#!/usr/bin/env bash
# The updater's size, for each Windows build tree (one per flavour): every byte of it travels
# with every patch. Limit: 128 KiB, still static with no DLL beside it (e2e_image fails above it).
# Usage: size.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
found=0
for tree in "$build"/win*/; do
  updater="$tree/TessarvaneUpdater.exe"
  [[ -f "$updater" ]] || continue
  found=1
  bytes=$(stat -c %s "$updater")
  awk -v b="$bytes" -v t="$(basename "$tree")" \
    'BEGIN { printf "updater size (%s): %d bytes (%.1f KiB; limit 128 KiB)\n", t, b, b / 1024 }'
done
((found)) || { echo "size.sh: no TessarvaneUpdater.exe under $build/win*" >&2; exit 1; }
