#!/usr/bin/env bash
# The built updater packed, signed with osslsigncode (a certificate made here) and verified by
# the native packer and by the Windows packer under Wine; then a changed carried byte and bytes
# appended behind the signature, each of which verify must fail. The stub's version resource
# carries the VERSION file's version.
# Usage: verify-signed.sh RUNNER WINDOWS_PACK NATIVE_PACK UPDATER WORK_DIR
set -uo pipefail
runner=$1 winpack=$2 pack=$3 updater=$4 work=$5
rm -rf "$work"
mkdir -p "$work"
work=$(readlink -f "$work")
fail() { echo "FAILED: $*"; exit 1; }
win() { printf 'Z:%s' "${1//\//\\}"; }

head -c 50000 /dev/urandom >"$work/data.bin"
"$pack" build --stub "$updater" --name "Tess Verify" --version "1.0" --output "$work/packed.exe" \
  --allow-any-file "$work/data.bin" >/dev/null 2>&1 || fail "packing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessarvane Verify Test" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || fail "making the test certificate"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$work/packed.exe" \
  -out "$work/signed.exe" >/dev/null || fail "signing"

"$pack" verify --require-signature "$work/signed.exe" >"$work/native.txt" 2>&1 ||
  { cat "$work/native.txt"; fail "the native verify refused the signed updater"; }
grep -q "^digest: matches" "$work/native.txt" || fail "no matching digest reported"
version=$(cat "$(dirname "$0")/../../../VERSION")
grep -qx "updater version: file $version.0, product $version.0" "$work/native.txt" ||
  { cat "$work/native.txt"; fail "the stub's version resource does not carry the VERSION file's $version"; }
"$runner" "$winpack" verify --require-signature "$(win "$work/signed.exe")" 2>&1 | tr -d '\r' >"$work/windows.txt"
[[ ${PIPESTATUS[0]} -eq 0 ]] || { cat "$work/windows.txt"; fail "the Windows verify refused the signed updater"; }
diff <(grep -v '^updater:' "$work/windows.txt") <(grep -v '^updater:' "$work/native.txt") ||
  fail "verify under Windows reads the updater differently"
echo "ok: the signed updater verifies, natively and under Windows"

cp "$work/signed.exe" "$work/changed.exe"
printf '\x00' | dd of="$work/changed.exe" bs=1 seek=$(($(stat -c %s "$work/packed.exe") - 10)) conv=notrunc 2>/dev/null
"$pack" verify "$work/changed.exe" >"$work/changed.txt" 2>&1 && fail "a changed carried byte passed"
grep -q "digest differs" "$work/changed.txt" || { cat "$work/changed.txt"; fail "no 'digest differs'"; }
cp "$work/signed.exe" "$work/appended.exe"
printf 'tail' >>"$work/appended.exe"
"$pack" verify "$work/appended.exe" >"$work/appended.txt" 2>&1 && fail "bytes appended behind the signature passed"
grep -q "4 bytes follow the certificate table" "$work/appended.txt" || { cat "$work/appended.txt"; fail "appended bytes not reported"; }
echo "ok: a changed carried byte and appended bytes each fail"
