#!/usr/bin/env bash
# Usage: round-trip.sh RUNNER WINDOWS_PACK NATIVE_PACK UPDATER WORK_DIR
# RUNNER starts a Windows program of the tree's flavour under Wine (its wine-run).
set -uo pipefail
# Wine turns the arguments into UTF-16 with the Unix locale's character set.
export LC_ALL=C.UTF-8
runner=$1 winpack=$2 pack=$3 updater=$4 work=$5
rm -rf "$work"
mkdir -p "$work/in" "$work/out"
work=$(readlink -f "$work")
fail() { echo "FAILED: $*"; exit 1; }
win() { printf 'Z:%s' "${1//\//\\}"; }

head -c 70000 /dev/urandom >"$work/in/first.bin"
printf 'second file\r\n' >"$work/in/Notes über.txt"
: >"$work/in/empty.dat"
files=(first.bin "Notes über.txt" empty.dat)

"$runner" "$winpack" build --stub "$(win "$updater")" --name "Tess Round Trip" --version "3.1.4" \
  --output "$(win "$work/windows.exe")" --allow-any-file \
  "$(win "$work/in/first.bin")" "$(win "$work/in/Notes über.txt")" "$(win "$work/in/empty.dat")" \
  >"$work/windows-build.txt" 2>&1 || { cat "$work/windows-build.txt"; fail "the Windows packer's build"; }
"$pack" build --stub "$updater" --name "Tess Round Trip" --version "3.1.4" --output "$work/native.exe" \
  --allow-any-file "$work/in/first.bin" "$work/in/Notes über.txt" "$work/in/empty.dat" >/dev/null 2>&1 ||
  fail "the native packer's build"
cmp "$work/windows.exe" "$work/native.exe" || fail "the two packers wrote different updaters"
echo "ok: the Windows packer's updater is byte for byte the native packer's"

"$runner" "$winpack" inspect --json "$(win "$work/windows.exe")" 2>&1 | tr -d '\r' >"$work/windows.json" ||
  fail "the Windows packer's inspect"
"$pack" inspect --json "$work/windows.exe" >"$work/native.json" 2>&1 || fail "the native inspect"
# Only the file name, as each side spells it, may differ.
diff <(grep -v '"file"' "$work/windows.json") <(grep -v '"file"' "$work/native.json") ||
  fail "inspect reads the updater differently on Windows"
grep -q '"productVersion": "3.1.4"' "$work/windows.json" || fail "inspect lost the version"
echo "ok: inspect under Windows reads what the native inspect reads"

"$runner" "$work/windows.exe" -x "$(win "$work/out")" </dev/null >/dev/null 2>&1
rc=$?
[[ $rc -eq 0 ]] || fail "the packed updater's -x ended with $rc"
for f in "${files[@]}"; do
  cmp "$work/in/$f" "$work/out/$f" || fail "$f did not come back unchanged"
done
echo "ok: the updater extracts every file unchanged"
