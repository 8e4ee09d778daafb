#!/usr/bin/env bash
# Packs the updaters of the window scenarios: one carrying no files (its run has nothing to
# apply) and one carrying a file that is not a patch (its run fails).
# Usage: make-updaters.sh PACKER STUB OUTDIR
set -euo pipefail
pack=$1 stub=$2 out=$3
mkdir -p "$out"
"$pack" build --stub "$stub" --name "Sample Product" --version "2.0" --output "$out/nothing-carried.exe"
printf 'these are notes, not a patch\r\n' > "$out/notes.msp"
"$pack" build --stub "$stub" --name "Sample Product" --version "2.0" --output "$out/not-a-patch.exe" \
  --allow-any-file "$out/notes.msp"
