#!/usr/bin/env bash
# Packing speed: tessarvane-pack build of 1 GiB (four 256 MiB files of random bytes) against
# cat of the same files into a file on the same disk, alternating, several runs each. Prints
# the medians and their ratio; close to 1.0 means that packing costs no more than copying.
# A second cat puts as many bytes as the payload header in front of the files: the header
# moves the files' data off page alignment, which makes the kernel's copy slower for any
# writer of this layout, so that ratio shows the packer's own cost. Last, the packer's peak
# resident memory while it packs one 1 GiB patch (made by make-big-patch.py).
# Usage: pack.sh BUILD_DIR (the tree holding host/, or the host tree itself).
set -euo pipefail
build=${1:-build}
runs=${BENCH_RUNS:-7}
pack="$build/host/pack/tessarvane-pack"
[[ -x "$pack" ]] || pack="$build/pack/tessarvane-pack"
[[ -x "$pack" ]] || { echo "pack.sh: tessarvane-pack not built under $build" >&2; exit 1; }

data="$build/bench-data"
mkdir -p "$data"
files=()
for i in 1 2 3 4; do
  f="$data/part$i.bin"
  # Made once: random data of the full size, so nothing downstream can compress or skip it.
  if [[ ! -f "$f" || $(stat -c %s "$f") -ne 268435456 ]]; then
    head -c 268435456 /dev/urandom >"$f"
  fi
  files+=("$f")
done
# A minimal PE32 stub whose only section ends at 0x400, as the real updater ends at its last.
python3 - "$data/stub.exe" <<'PY'
import struct, sys
b = bytearray(0x400)
b[0:2] = b"MZ"; struct.pack_into("<I", b, 0x3C, 0x40)
b[0x40:0x44] = b"PE\0\0"
struct.pack_into("<HHIIIHH", b, 0x44, 0x14C, 1, 0, 0, 0, 224, 0x102)
o = 0x58
struct.pack_into("<H", b, o, 0x10B)
struct.pack_into("<IIIII", b, o + 16, 0x1000, 0, 0, 0x400000, 0x1000)
struct.pack_into("<I", b, o + 36, 0x200)
struct.pack_into("<I", b, o + 56, 0x2000); struct.pack_into("<I", b, o + 60, 0x200)
struct.pack_into("<H", b, o + 68, 2); struct.pack_into("<I", b, o + 92, 16)
s = 0x40 + 248
b[s:s + 5] = b".text"
struct.pack_into("<IIII", b, s + 8, 0x200, 0x1000, 0x200, 0x200)
open(sys.argv[1], "wb").write(b)
PY

name="Benchmark"
version="1.0"
head -c $((1 + 2 * ${#name} + 1 + 2 * ${#version} + 4 + 528 * ${#files[@]})) /dev/zero >"$data/header.bin"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
run_pack() {
  "$pack" build --stub "$data/stub.exe" --name "Benchmark" --version "1.0" \
    --output "$data/out-pack.exe" --allow-any-file "${files[@]}" 2>/dev/null
}
run_cat() { cat "$data/stub.exe" "${files[@]}" >"$data/out-cat.bin"; }
run_cat_header() { cat "$data/stub.exe" "$data/header.bin" "${files[@]}" >"$data/out-cat.bin"; }
# Each command starts with its previous output gone and nothing dirty in the page cache, and
# the two take turns going first, so neither pays for the other's writeback.
measure() {
  rm -f "$data/out-pack.exe" "$data/out-cat.bin"
  sync
  local t0 t1
  t0=$(now)
  "$1"
  t1=$(now)
  elapsed "$t0" "$t1"
}
run_cat >/dev/null # warm the page cache with the inputs
pack_times=()
cat_times=()
header_times=()
for ((run = 0; run < runs; run++)); do
  if ((run % 2)); then
    cat_times+=("$(measure run_cat)")
    header_times+=("$(measure run_cat_header)")
    pack_times+=("$(measure run_pack)")
  else
    pack_times+=("$(measure run_pack)")
    header_times+=("$(measure run_cat_header)")
    cat_times+=("$(measure run_cat)")
  fi
done
rm -f "$data/out-pack.exe" "$data/out-cat.bin" "$data/header.bin"

# Peak memory packing one 1 GiB patch: its targets are read from the compound file's tables,
# directory and summary stream, and its bytes are streamed, so the peak stays flat.
patch="$data/big-patch.msp"
if [[ ! -f "$patch" || $(stat -c %s "$patch") -ne 1073741824 ]]; then
  python3 "$(dirname "$0")/make-big-patch.py" "$patch" 1073741824
fi
/usr/bin/time -f %M -o "$data/peak.txt" "$pack" build --stub "$data/stub.exe" --name "$name" \
  --version "$version" --output "$data/out-pack.exe" "$patch" 2>/dev/null
pack_peak=$(cat "$data/peak.txt")
rm -f "$data/out-pack.exe" "$data/peak.txt"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
pack_median=$(median "${pack_times[@]}")
cat_median=$(median "${cat_times[@]}")
header_median=$(median "${header_times[@]}")
echo "pack 1 GiB:                median ${pack_median} s over ${runs} runs (${pack_times[*]})"
echo "cat  1 GiB:                median ${cat_median} s over ${runs} runs (${cat_times[*]})"
echo "cat  1 GiB behind header:  median ${header_median} s over ${runs} runs (${header_times[*]})"
awk -v p="$pack_median" -v c="$cat_median" -v h="$header_median" \
  'BEGIN { printf "pack/cat ratio: %.2f (pack/cat behind the header: %.2f)\n", p / c, p / h }'
awk -v k="$pack_peak" 'BEGIN { printf "pack peak memory, one 1 GiB patch: %d KiB (%.1f MiB; goal under 64 MiB)\n", k, k / 1024 }'
