#!/usr/bin/env bash
# The detection rules of tessarvane-pack against the registry of a real Windows Installer (Wine's),
# in a fresh prefix of their own: installs three sample products, builds two patches (one for
# an x64 and an x86 product, one for a third product in a patch family) and a later patch that
# supersedes the second, packs an updater of the first two and one of the later patch, writes
# each updater's `detection --json` beside it, and lets the Windows test binary check every
# clause before and after the runs.
# Usage: run-detection.sh UPDATER PACK MKPATCH TEST_EXE WORK_DIR RUNNER
# RUNNER starts a Windows program of the build tree's flavour (its wine-run).
set -uo pipefail
updater=$(readlink -f "$1")
pack=$(readlink -f "$2")
mkpatch=$(readlink -f "$3")
test_exe=$(readlink -f "$4")
work=$5
runner=$6
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../../scripts/products.sh"

rm -rf "$work"
mkdir -p "$work/new"
work=$(readlink -f "$work")
private_prefix "$work/prefix"

die() { echo "detection set-up: $*"; exit 1; }

for entry in "Pair64 0000000000E1 x64" "Pair32 0000000000E2 x86" "Solo 0000000000E3 x86"; do
  read -r name code arch <<<"$entry"
  make_product "$work" "$name" "$code" "$arch" || die "wixl $name"
  install_product "$work" "$name" || die "installing $name"
done

# One patch for both Pair products: its one cabinet keys files by File key, app.txt in both.
printf 'Pair app, version 2\r\n' >"$work/new/Pair-app.txt"
"$mkpatch" --output "$work/pair.msp" --target "$work/Pair64.msi" --replace "app.txt=$work/new/Pair-app.txt" \
  --target "$work/Pair32.msi" --replace "app.txt=$work/new/Pair-app.txt" >/dev/null || die "mkpatch pair"
# Solo's patches belong to one family; the later one says it supersedes the earlier ones.
printf 'Solo app, version 2\r\n' >"$work/new/Solo-app.txt"
printf 'Solo notes, version 3\r\n' >"$work/new/Solo-notes.txt"
"$mkpatch" --output "$work/solo.msp" --sequence SoloFixes=1.0.1 --target "$work/Solo.msi" \
  --replace "app.txt=$work/new/Solo-app.txt" >/dev/null || die "mkpatch solo"
"$mkpatch" --output "$work/later.msp" --sequence SoloFixes=1.0.2 --supersede --target "$work/Solo.msi" \
  --replace "notes.txt=$work/new/Solo-notes.txt" >/dev/null || die "mkpatch later"

for out in first:pair.msp,solo.msp later:later.msp; do
  name=${out%%:*}
  IFS=, read -ra patches <<<"${out#*:}"
  "$pack" build --stub "$updater" --name "Tess Detection" --version 2.0 --output "$work/$name.exe" \
    "${patches[@]/#/$work/}" >/dev/null || die "packing $name"
  "$pack" detection --json "$work/$name.exe" >"$work/$name.detection.json" || die "detection --json $name"
  "$pack" detection "$work/$name.exe" >"$work/$name.detection.txt" || die "detection $name"
done

wine cmd /c exit >/dev/null 2>&1 </dev/null
TESSARVANE_WINEPREFIX_OVERRIDE=$WINEPREFIX "$runner" "$test_exe" "$(winepath -w "$work" 2>/dev/null)"
