#!/usr/bin/env bash
# Whole runs against Wine's real Windows Installer, in a fresh prefix of their own: installs
# sample products (x86 and x64), builds their patches with tessarvane-mkpatch, packs updaters
# with tessarvane-pack, then lets the Windows test binary run and drive those updaters.
# Usage: run-scenarios.sh UPDATER PACK MKPATCH TEST_EXE WORK_DIR RUNNER
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

die() { echo "scenario set-up: $*"; exit 1; }

# name, code, arch, installed?, scope.  Key order within x86: Alpha < Beta, Refused < Later.
# Personal is installed per-user (no ALLUSERS), Company per-machine; one updater carries both.
products=(
  "Wide 0000000000C1 x64 yes"
  "Alpha 0000000000A1 x86 yes"
  "Beta 0000000000A2 x86 yes"
  "Absent 0000000000A3 x86 no"
  "Reboot 0000000000D1 x86 yes"
  "Silent 0000000000D2 x86 yes"
  "Refused 0000000000B1 x86 yes"
  "Later 0000000000B2 x86 yes"
  "Signed 0000000000E1 x86 yes"
  "Planted 0000000000F1 x86 yes"
  "Beside 0000000000F2 x86 yes"
  "Personal 0000000000B3 x86 yes perUser"
  "Company 0000000000B4 x64 yes"
  "Shared 0000000000B5 x64 yes"
  "Advert 0000000000B6 x86 yes"
  "Twin64 0000000000C2 x64 yes"
  "Twin32 0000000000C3 x86 yes"
  "Legacy 0000000000C4 x64 yes"
  "Booter 0000000000D3 x86 yes"
  "Restarter 0000000000D4 x86 yes"
  "Plain 0000000000D5 x86 yes"
  "Checked 0000000000E2 x86 yes"
  "Waited 0000000000E3 x86 yes"
  "Uncached 0000000000E4 x86 yes"
  "Taken 0000000000E5 x86 yes"
  "Kept 0000000000E6 x86 yes"
  "Freed 0000000000E7 x86 yes"
  "Untouched 0000000000E8 x86 yes"
)
for entry in "${products[@]}"; do
  read -r name code arch install scope <<<"$entry"
  make_product "$work" "$name" "$code" "$arch" "${scope:-perMachine}" || die "wixl $name"
  case $name in
  Legacy)
    # An x64 package whose template names its platform by the older name AMD64.
    uuid=$(msiinfo suminfo "$work/Legacy.msi" | sed -n 's/^Revision number (UUID): //p')
    msibuild "$work/Legacy.msi" -s "Installation Database" Tessarvane "AMD64;1033" "$uuid" || die "Legacy's template"
    ;;
  Booter)
    # A product whose own sequence schedules a restart, as drivers and services do.
    msibuild "$work/Booter.msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) \
VALUES ('ScheduleReboot', '', 6590)" || die "Booter's ScheduleReboot"
    ;;
  esac
  if [[ $install == yes ]]; then install_product "$work" "$name" || die "installing $name"; fi
  printf '%s app, version 2\r\n' "$name" >"$work/new/$name-app.txt"
  # Reboot and Silent ask for a restart because the tests hold their app.txt open while the
  # patch runs, not through a restart action (which Windows refuses inside a transaction).
  flags=()
  [[ $name == Refused ]] && flags=(--broken-cabinet)
  [[ $name == Restarter ]] && flags=(--restart)
  # Patches that allow their removal, for the removal runs.
  [[ $name == Taken || $name == Freed || $name == Untouched ]] && flags=(--allow-removal)
  lower=$(echo "$name" | tr 'A-Z' 'a-z')
  "$mkpatch" --output "$work/$lower.msp" "${flags[@]}" --target "$work/$name.msi" \
    --replace "app.txt=$work/new/$name-app.txt" >/dev/null || die "mkpatch $name"
done

pack_updater() {  # pack_updater NAME VERSION PATCHES...
  local out=$1 version=$2
  shift 2
  "$pack" build --stub "$updater" --name "Tess Suite" --version "$version" --output "$work/$out.exe" "$@" \
    >/dev/null || die "packing $out"
}
pack_updater main 2.0 "$work/wide.msp" "$work/alpha.msp" "$work/beta.msp" "$work/absent.msp"
pack_updater reboot 2.1 "$work/reboot.msp"
pack_updater refused 2.2 "$work/refused.msp" "$work/later.msp"
pack_updater signed-unsigned 2.3 "$work/signed.msp"
pack_updater silent-reboot 2.4 "$work/silent.msp"
pack_updater contexts 2.6 "$work/personal.msp" "$work/company.msp"
pack_updater accounts 2.7 "$work/shared.msp" "$work/advert.msp"
# One patch for an x64 and an x86 product, and an x64 product whose template says AMD64. The
# patch's one cabinet keys files by their File key, app.txt in both products: one new content.
printf 'Twin app, version 2\r\n' >"$work/new/Twin64-app.txt"
cp "$work/new/Twin64-app.txt" "$work/new/Twin32-app.txt"
"$mkpatch" --output "$work/twin.msp" --target "$work/Twin64.msi" --replace "app.txt=$work/new/Twin64-app.txt" \
  --target "$work/Twin32.msi" --replace "app.txt=$work/new/Twin32-app.txt" >/dev/null || die "mkpatch twin"
pack_updater platforms 2.8 "$work/twin.msp" "$work/legacy.msp"
# A product that schedules a restart itself, a patch that adds a restart action, and one that
# does neither.
pack_updater restarts 2.9 "$work/booter.msp" "$work/restarter.msp" "$work/plain.msp"
# The check before and after an update, the wait for another installation, and a product
# whose cached package the test deletes.
pack_updater checked 3.0 "$work/checked.msp"
pack_updater waited 3.1 "$work/waited.msp"
pack_updater uncached 3.2 "$work/uncached.msp"
# Removal runs: a removable patch, a plain one beside a removable one, and one never applied.
pack_updater taken 3.3 "$work/taken.msp"
pack_updater kept 3.4 "$work/kept.msp" "$work/freed.msp"
pack_updater untouched 3.5 "$work/untouched.msp"

# Shared, installed per-machine, is also registered as another account's per-user (managed)
# installation, and Advert, installed per-machine, as advertised per-user for this account:
# the registrations Windows Installer keeps for them, under the products' packed codes.
# Another account's unmanaged installation (under its HKEY_USERS branch) would be the
# commoner case, but Wine's MsiEnumProductsExW does not restart its index for each account
# there and so misses it behind this account's Personal.
other_sid=S-1-5-21-1111-2222-3333-1001
shared_key=000055E700000004080000000000005B
advert_key=000055E700000004080000000000006B
installer='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer'
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[%s\\Managed\\%s\\Installer\\Products\\%s]\r\n"ProductName"="Tess Shared"\r\n\r\n' \
    "$installer" "$other_sid" "$shared_key"
  printf '[%s\\UserData\\%s\\Products\\%s\\InstallProperties]\r\n' "$installer" "$other_sid" "$shared_key"
  printf '"DisplayName"="Tess Shared"\r\n"LocalPackage"="C:\\\\windows\\\\Installer\\\\other.msi"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Microsoft\\Installer\\Products\\%s]\r\n"ProductName"="Tess Advert"\r\n\r\n' \
    "$advert_key"
} >"$work/accounts.reg"
"$products_scripts/wine64" regedit /S "$(winepath -w "$work/accounts.reg" 2>/dev/null)" >/dev/null 2>&1 </dev/null ||
  die "other accounts' registrations"

# What inspect --json shows of three of them, for the check of the result files, which must
# name the same facts the same way.
if [[ -n ${TESSARVANE_INSPECT:-} ]]; then
  for name in main silent-reboot refused; do
    "$pack" inspect --json "$work/$name.exe" >"$TESSARVANE_INSPECT/$name.inspect.json" || die "inspect $name"
  done
fi

# The patch code that inspect shows, in both forms; the test checks it against what Windows
# Installer registers once the patch is applied.
silent_code=$("$pack" inspect --json "$work/silent-reboot.exe" |
  sed -n 's/.*"name": "silent.msp".*"patchCode": "\([^"]*\)".*/\1/p')
[[ $silent_code =~ ^\{[0-9A-F-]{36}\}$ ]] || die "no patch code in inspect --json: '$silent_code'"
"$pack" inspect "$work/silent-reboot.exe" | grep -qxF "      patch code $silent_code" ||
  die "inspect's text does not show the patch code $silent_code"

# DLLs planted beside two updaters, in the folder the tests also start them in: copies of a
# DLL that leaves "NAME.dll.loaded" beside itself when loaded. Wine is told to prefer a DLL it
# finds on the search path to its own for these programs, as Windows' search order would
# (per program in the registry, since a parent's environment does not reach a child started
# under Wine). control.exe (a copy of the test binary, which imports user32 the ordinary way)
# proves that the plants are picked up where a program does not keep them out.
marker=${TESSARVANE_MARKER_DLL:?the marker DLL}
mkdir -p "$work/planted"
pack_updater planted/planted 2.4 "$work/planted.msp"
pack_updater planted/beside 2.5 "$work/beside.msp"
planted=(version uxtheme dwmapi cryptbase userenv profapi propsys msi comctl32 user32 gdi32 shell32
  ole32 oleaut32 rpcrt4 advapi32 sechost combase shlwapi imm32 msctf winmm cabinet wintrust crypt32)
for name in "${planted[@]}"; do cp "$marker" "$work/planted/$name.dll"; done
cp "$test_exe" "$work/planted/control.exe"
{
  printf 'REGEDIT4\r\n\r\n'
  for app in planted.exe beside.exe control.exe; do
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\DllOverrides]\r\n' "$app"
    for name in "${planted[@]}"; do printf '"%s"="native,builtin"\r\n' "$name"; done
    printf '\r\n'
  done
} >"$work/planted-overrides.reg"
wine regedit /S "$(winepath -w "$work/planted-overrides.reg" 2>/dev/null)" >/dev/null 2>&1 </dev/null ||
  die "planted DLL overrides"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessarvane Test Signing" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || die "openssl"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Tess Suite" \
  -in "$work/signed-unsigned.exe" -out "$work/signed.exe" >/dev/null || die "osslsigncode"

wine cmd /c exit >/dev/null 2>&1 </dev/null
TESSARVANE_WINEPREFIX_OVERRIDE=$WINEPREFIX "$runner" "$test_exe" "$(winepath -w "$work" 2>/dev/null)" "$silent_code"
