#!/usr/bin/env bash
# Extraction speed: `TessarvaneUpdater -x` of an updater carrying 512 MiB in four files of
# random bytes, with no result file (so no hashing) and with `-l` (a result file, so a SHA-256
# of every carried byte), against two references on the same disk in the same run: cp of the
# four files, and tv-copyloop, a bare loop that copies the same bytes out of the same updater
# through the same 32 KiB buffer under Wine. Goals: -x at most 1.10 times the loop, -x -l at
# most 2.0 times. Runs alternate, each into an emptied folder with nothing dirty in the page
# cache. Prints the medians, updater/loop and updater/cp, and the updater's peak resident
# memory for this payload and for a 1 MiB one, and last tv-hashspeed's SHA-256 speed on each
# path this processor has. The updater imports the GUI and Windows Installer DLLs, which Wine
# takes longer to start than the loop's kernel32 alone, so both are also timed carrying one
# empty file, and the ratio of the copy alone (each time less its own start-up) is printed too.
# BENCH_FLAVOUR picks the updater: x86 (the default, the one shipped first) or x64.
# Usage: extract.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${BENCH_RUNS:-9}
here=$(cd "$(dirname "$0")/.." && pwd)
pack="$build/host/pack/tessarvane-pack"
flavour=${BENCH_FLAVOUR:-x86}
tree=win32
[[ $flavour == x64 ]] && tree=win64
updater="$build/$tree/TessarvaneUpdater.exe"
loop="$build/$tree/tests/bench/tv-copyloop.exe"
hashspeed="$build/$tree/tests/bench/tv-hashspeed.exe"
for tool in "$pack" "$updater" "$loop" "$hashspeed"; do
  [[ -f "$tool" ]] || { echo "extract.sh: $tool is not built" >&2; exit 1; }
done

data="$build/bench-extract"
mkdir -p "$data"
files=()
sizes=()
for i in 1 2 3 4; do
  f="$data/part$i.bin"
  # Made once: random data, so nothing downstream can compress or skip it.
  if [[ ! -f "$f" || $(stat -c %s "$f") -ne 134217728 ]]; then
    head -c 134217728 /dev/urandom >"$f"
  fi
  files+=("$f")
  sizes+=(134217728)
done
head -c 1048576 /dev/urandom >"$data/small.bin"
: >"$data/empty.bin"
"$pack" build --stub "$updater" --name "Benchmark" --version "1.0" --output "$data/updater.exe" \
  --allow-any-file "${files[@]}" 2>/dev/null
"$pack" build --stub "$updater" --name "Benchmark" --version "1.0" --output "$data/small.exe" \
  --allow-any-file "$data/small.bin" 2>/dev/null
"$pack" build --stub "$updater" --name "Benchmark" --version "1.0" --output "$data/empty.exe" \
  --allow-any-file "$data/empty.bin" 2>/dev/null
# Where the first file's data begin: the loop starts reading there.
first=$("$pack" inspect "$data/updater.exe" | sed -n 's/^  \[0\] .* offset \(0x[0-9A-Fa-f]*\) .*/\1/p')
[[ -n "$first" ]] || { echo "extract.sh: no data offset from inspect" >&2; exit 1; }

source "$here/wine-env" "$build"
wine_prefix_ready
wineserver -p >/dev/null 2>&1 &
wine cmd /c exit >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
out="$data/out"

# The flavour's loader as one external command, so that /usr/bin/time can run it too.
wine_cmd=(wine)
[[ $flavour == x64 ]] && wine_cmd=("$here/wine64")
win() { "${wine_cmd[@]}" "$@"; }
run_updater() { win "$data/updater.exe" -x "$(winpath "$data")\\out" >/dev/null 2>&1 </dev/null; }
run_logged() {
  rm -rf "$data/logs"
  win "$data/updater.exe" -x "$(winpath "$data")\\out" -l "$(winpath "$data")\\logs" >/dev/null 2>&1 </dev/null
}
run_loop() { win "$loop" "$(winpath "$data/updater.exe")" "$first" "$(winpath "$data")\\out" "${sizes[@]}" >/dev/null 2>&1 </dev/null; }
start_updater() { win "$data/empty.exe" -x "$(winpath "$data")\\out" >/dev/null 2>&1 </dev/null; }
start_loop() { win "$loop" "$(winpath "$data/empty.exe")" 0 "$(winpath "$data")\\out" 0 >/dev/null 2>&1 </dev/null; }
run_cp() { mkdir -p "$out" && cp "${files[@]}" "$out/"; }

now() { date +%s.%N; }
measure() {
  rm -rf "$out"
  sync
  local t0 t1
  t0=$(now)
  "$1" || { echo "extract.sh: $1 failed" >&2; exit 1; }
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
check_output() {
  for i in 1 2 3 4; do
    cmp -s "${files[$((i - 1))]}" "$out/part$i.bin" || { echo "extract.sh: $1 output differs" >&2; exit 1; }
  done
}
measure run_updater >/dev/null; check_output updater
measure run_logged >/dev/null; check_output "updater -l"
grep -q '"sha256": "' "$data/logs/TessarvaneUpdater.json" || { echo "extract.sh: no digests in the result file" >&2; exit 1; }
measure run_loop >/dev/null; check_output loop

updater_times=()
logged_times=()
loop_times=()
cp_times=()
start_updater_times=()
start_loop_times=()
for ((run = 0; run < runs; run++)); do
  if ((run % 2)); then
    cp_times+=("$(measure run_cp)")
    loop_times+=("$(measure run_loop)")
    updater_times+=("$(measure run_updater)")
    logged_times+=("$(measure run_logged)")
  else
    logged_times+=("$(measure run_logged)")
    updater_times+=("$(measure run_updater)")
    loop_times+=("$(measure run_loop)")
    cp_times+=("$(measure run_cp)")
  fi
  start_updater_times+=("$(measure start_updater)")
  start_loop_times+=("$(measure start_loop)")
done

# Peak resident set of the updater's process, in KiB, for the big and the small payload.
peak() {
  rm -rf "$out"
  /usr/bin/time -f %M -o "$data/peak.txt" "${wine_cmd[@]}" "$1" -x "$(winpath "$data")\\out" >/dev/null 2>&1 </dev/null
  cat "$data/peak.txt"
}
peak_big=$(peak "$data/updater.exe")
peak_small=$(peak "$data/small.exe")
rm -rf "$out" "$data/logs" "$data/peak.txt"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
updater_median=$(median "${updater_times[@]}")
logged_median=$(median "${logged_times[@]}")
loop_median=$(median "${loop_times[@]}")
cp_median=$(median "${cp_times[@]}")
start_updater_median=$(median "${start_updater_times[@]}")
start_loop_median=$(median "${start_loop_times[@]}")
echo "updater -x 512 MiB:     median ${updater_median} s over ${runs} runs (${updater_times[*]})"
echo "updater -x -l 512 MiB:  median ${logged_median} s over ${runs} runs (${logged_times[*]})"
echo "32 KiB loop 512 MiB:    median ${loop_median} s over ${runs} runs (${loop_times[*]})"
echo "cp 512 MiB:             median ${cp_median} s over ${runs} runs (${cp_times[*]})"
awk -v u="$updater_median" -v l="$loop_median" -v c="$cp_median" \
  'BEGIN { printf "updater -x/loop ratio: %.3f   updater/cp ratio: %.2f   (loop/cp: %.2f)\n", u / l, u / c, l / c }'
awk -v u="$logged_median" -v l="$loop_median" \
  'BEGIN { printf "updater -x -l/loop ratio: %.3f (goal 2.0; -x alone: goal 1.10)\n", u / l }'
echo "start-up, one empty file: updater ${start_updater_median} s, loop ${start_loop_median} s"
awk -v u="$updater_median" -v l="$loop_median" -v su="$start_updater_median" -v sl="$start_loop_median" \
  'BEGIN { printf "copy alone, start-up taken off: updater/loop ratio %.3f\n", (u - su) / (l - sl) }'
echo "updater peak memory: ${peak_big} KiB with 512 MiB carried, ${peak_small} KiB with 1 MiB carried"
win "$hashspeed" 2>/dev/null </dev/null | tr -d "\r"
