#!/usr/bin/env bash
# Test fixture: updaters packed by tessarvane-pack from the real updater, for the extraction
# scenarios. Writes into OUT_DIR:
#   files/      the carried files (deterministic bytes), as they must come out again
#   updater.exe those files behind a product name and version with non-ASCII characters
#   signed.exe  updater.exe signed afterwards with a throw-away self-signed certificate
#   sweep.exe   a small updater whose payload the corruption sweep damages
#   big.exe     one large file (big-files/), long enough to copy that a run can be killed
#               in the middle of it
# Usage: make-updaters.sh TESSARVANE_PACK UPDATER.exe OUT_DIR
set -euo pipefail
pack=$1
updater=$2
out=$3
name="Tessarvane Straße – Ünïcode ✓"
version="2.1.0-β"

rm -rf "$out"
mkdir -p "$out/files" "$out/sweep-files"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Reproducible bytes: AES-CTR over zeros under a key derived from the label.
bytes() {
  local key
  key=$(printf '%s' "$2" | openssl dgst -md5 -r | cut -c1-32)
  head -c "$1" /dev/zero | openssl enc -aes-128-ctr -K "$key" -iv 00000000000000000000000000000000 -nosalt
}
: >"$out/files/Empty.msp"
bytes 32768 exact >"$out/files/exact 0x8000.msp"
bytes 32769 past >"$out/files/one more 0x8001.msp"
bytes 1234567 large >"$out/files/große Änderung ✓.msp"

"$pack" build --stub "$updater" --name "$name" --version "$version" --output "$out/updater.exe" \
  --allow-any-file "$out/files/Empty.msp" "$out/files/exact 0x8000.msp" "$out/files/one more 0x8001.msp" \
  "$out/files/große Änderung ✓.msp" 2>/dev/null

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessarvane Test Signing" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Tessarvane Updater" \
  -in "$out/updater.exe" -out "$out/signed.exe" >/dev/null

: >"$out/sweep-files/zero.msp"
bytes 100 small >"$out/sweep-files/small ü.msp"
bytes 32769 chunk >"$out/sweep-files/chunk.msp"
"$pack" build --stub "$updater" --name "$name" --version "$version" --output "$out/sweep.exe" \
  --allow-any-file "$out/sweep-files/small ü.msp" "$out/sweep-files/zero.msp" "$out/sweep-files/chunk.msp" 2>/dev/null

mkdir -p "$out/big-files"
bytes 100 first >"$out/big-files/first.msp"
bytes 100663296 big >"$out/big-files/big.msp"
"$pack" build --stub "$updater" --name "$name" --version "$version" --output "$out/big.exe" \
  --allow-any-file "$out/big-files/first.msp" "$out/big-files/big.msp" 2>/dev/null
