#!/usr/bin/env bash
# Test fixture: a copy of the updater signed with a throw-away self-signed certificate.
# Usage: make-signed.sh UPDATER.exe OUT.exe
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessarvane Test Signing" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
rm -f "$2"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Tessarvane Updater" \
  -in "$1" -out "$2" >/dev/null
