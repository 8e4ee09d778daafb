#!/usr/bin/env bash
# Proves under Wine's Windows Installer, in a fresh prefix of its own, that the patches
# tessarvane-mkpatch writes really patch installed products: one file (x86 and x64), two
# products in one patch, a restart patch (3010), a refused patch (1603, file unchanged) and a
# patch registered as removable (--allow-removal).
# Usage: wine-proof.sh MKPATCH PRODUCT_WXS WORK_DIR
set -uo pipefail
mkpatch=$(readlink -f "$1")
wxs=$(readlink -f "$2")
work=$3

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
export WINEPREFIX="$PWD/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Wine's own programs (msiexec, cmd, reg) run on the 64-bit loader: the `wine` script would
# take the 32-bit one, which some machines can only emulate, slowly.
wine64=$(cd "$(dirname "$0")/../../../scripts" && pwd)/wine64
wine() { "$wine64" "$@"; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# One persistent server for the prefix makes each Wine process start in well under a second.
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 &
trap 'wineserver -k >/dev/null 2>&1; wait' EXIT
sleep 0.5
wineboot -i >/dev/null 2>&1

# make_product NAME INDEX ARCH [noinstall]: product NAME.msi with app.txt and notes.txt.
make_product() {
  local name=$1 index=$2 arch=$3 folder=ProgramFilesFolder
  [[ $arch == x64 ]] && folder=ProgramFiles64Folder
  mkdir -p "src-$name"
  echo "$name app, version 1" >"src-$name/app.txt"
  echo "$name notes, version 1" >"src-$name/notes.txt"
  (cd "src-$name" && wixl -a "$arch" -o "../$name.msi" \
    -D ProductCode="{7E550000-0000-4000-8000-0000000000$index}" \
    -D UpgradeCode="{7E550000-0000-4000-8000-1000000000$index}" \
    -D ProductName="Tess $name" -D Folder="Tess $name" -D ProgramFiles=$folder \
    -D AppSource=app.txt -D NotesSource=notes.txt "$wxs" >/dev/null 2>&1) || { fail "wixl $name"; return 1; }
  [[ ${4:-} == noinstall ]] && return 0
  wine msiexec /i "$(winepath -w "$name.msi" 2>/dev/null)" /qn
  local rc=$?
  [[ $rc -eq 0 ]] || fail "installing $name gave $rc"
}

installed() {  # installed NAME ARCH FILE: path of an installed file
  local dir="Program Files (x86)"
  [[ $2 == x64 ]] && dir="Program Files"
  echo "$WINEPREFIX/drive_c/$dir/Tess $1/$3"
}

# A process's exit code reaches Linux only modulo 256 (3010 would be 194), so cmd reports it.
printf '@echo off\r\nstart /wait msiexec /p %%1 /qn\r\necho rc=%%ERRORLEVEL%%\r\n' >apply.bat
apply() {  # apply PATCH: prints msiexec's exit code
  wine cmd /c apply.bat "$(winepath -w "$1" 2>/dev/null)" 2>/dev/null | tr -d '\r' | sed -n 's/^rc=//p'
}

squash() {  # the registry form of a GUID
  local g=${1//[\{\}-]/} out="" i
  out+=$(echo "${g:0:8}" | rev)$(echo "${g:8:4}" | rev)$(echo "${g:12:4}" | rev)
  for ((i = 16; i < 32; i += 2)); do out+=${g:i+1:1}${g:i:1}; done
  echo "$out"
}

registered() {  # registered PRODUCT_INDEX PATCH: the patch is listed for the product
  local product patch
  product=$(squash "{7E550000-0000-4000-8000-0000000000$1}")
  patch=$(squash "$(msiinfo suminfo "$2" | sed -n 's/^Revision number (UUID): //p')")
  wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\$product\\Patches\\$patch" /reg:64 >/dev/null 2>&1 &&
    wine reg query "HKCR\\Installer\\Products\\$product\\Patches" 2>/dev/null | grep -q "$patch"
}

uninstallable() {  # uninstallable PRODUCT_INDEX PATCH: the registered Uninstallable value (0x0, 0x1)
  local product patch
  product=$(squash "{7E550000-0000-4000-8000-0000000000$1}")
  patch=$(squash "$(msiinfo suminfo "$2" | sed -n 's/^Revision number (UUID): //p')")
  wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\$product\\Patches\\$patch" \
    /v Uninstallable /reg:64 2>/dev/null | tr -d '\r' | awk '$1 == "Uninstallable" { print $3 }'
}

check_file() {  # check_file WHAT PATH EXPECTED_FILE
  if cmp -s "$2" "$3"; then pass "$1"; else fail "$1: $(cat "$2" 2>&1)"; fi
}

make_product One 01 x86
make_product Wide 02 x64
make_product PairA 03 x86
make_product PairB 04 x64
make_product Reboot 05 x86
make_product Refused 06 x86
make_product Absent 07 x86 noinstall
make_product Removable 08 x86

echo "One app, version 2" >one-app.txt
echo "Wide app, version 2" >wide-app.txt
echo "PairA app, version 2" >paira-app.txt
echo "PairB notes, version 2" >pairb-notes.txt
echo "Reboot app, version 2" >reboot-app.txt
echo "Refused app, version 2" >refused-app.txt
echo "Removable app, version 2" >removable-app.txt

# One file, x86 and x64.
"$mkpatch" --output one.msp --target One.msi --replace app.txt=one-app.txt || fail "mkpatch one"
rc=$(apply one.msp)
[[ $rc -eq 0 ]] && pass "one-file patch rc 0" || fail "one-file patch rc $rc"
check_file "one-file patch replaced app.txt" "$(installed One x86 app.txt)" one-app.txt
check_file "one-file patch left notes.txt" "$(installed One x86 notes.txt)" src-One/notes.txt
registered 01 one.msp && pass "one-file patch registered" || fail "one-file patch not registered"
value=$(uninstallable 01 one.msp)
[[ $value == 0x0 ]] && pass "one-file patch registered as not removable" || fail "one-file patch Uninstallable '$value'"

"$mkpatch" --output wide.msp --target Wide.msi --replace app.txt=wide-app.txt || fail "mkpatch wide"
rc=$(apply wide.msp)
[[ $rc -eq 0 ]] && pass "x64 patch rc 0" || fail "x64 patch rc $rc"
check_file "x64 patch replaced app.txt" "$(installed Wide x64 app.txt)" wide-app.txt
registered 02 wide.msp && pass "x64 patch registered" || fail "x64 patch not registered"

# Two products in one patch.
"$mkpatch" --output pair.msp --target PairA.msi --replace app.txt=paira-app.txt \
  --target PairB.msi --replace notes.txt=pairb-notes.txt || fail "mkpatch pair"
rc=$(apply pair.msp)
[[ $rc -eq 0 ]] && pass "two-product patch rc 0" || fail "two-product patch rc $rc"
check_file "two-product patch replaced PairA app.txt" "$(installed PairA x86 app.txt)" paira-app.txt
check_file "two-product patch replaced PairB notes.txt" "$(installed PairB x64 notes.txt)" pairb-notes.txt
check_file "two-product patch left PairB app.txt" "$(installed PairB x64 app.txt)" src-PairB/app.txt
registered 03 pair.msp && pass "two-product patch registered for PairA" || fail "two-product patch not registered for PairA"
registered 04 pair.msp && pass "two-product patch registered for PairB" || fail "two-product patch not registered for PairB"

# Restart, with a new ProductVersion.
"$mkpatch" --output reboot.msp --product-version 1.0.1 --restart --target Reboot.msi \
  --replace app.txt=reboot-app.txt || fail "mkpatch reboot"
rc=$(apply reboot.msp)
[[ $rc -eq 3010 ]] && pass "restart patch rc 3010" || fail "restart patch rc $rc"
check_file "restart patch replaced app.txt" "$(installed Reboot x86 app.txt)" reboot-app.txt
registered 05 reboot.msp && pass "restart patch registered" || fail "restart patch not registered"

# Refused: a truncated cabinet.
"$mkpatch" --output refused.msp --broken-cabinet --target Refused.msi --replace app.txt=refused-app.txt || fail "mkpatch refused"
rc=$(apply refused.msp)
[[ $rc -eq 1603 ]] && pass "broken-cabinet patch rc 1603" || fail "broken-cabinet patch rc $rc"
check_file "broken-cabinet patch left app.txt" "$(installed Refused x86 app.txt)" src-Refused/app.txt
registered 06 refused.msp && fail "broken-cabinet patch registered" || pass "broken-cabinet patch not registered"

# Removable: Windows Installer reads AllowRemoval from the patch's own MsiPatchMetadata table
# and registers it as the patch's Uninstallable value.
"$mkpatch" --output removable.msp --allow-removal --target Removable.msi --replace app.txt=removable-app.txt ||
  fail "mkpatch removable"
rc=$(apply removable.msp)
[[ $rc -eq 0 ]] && pass "removable patch rc 0" || fail "removable patch rc $rc"
check_file "removable patch replaced app.txt" "$(installed Removable x86 app.txt)" removable-app.txt
value=$(uninstallable 08 removable.msp)
[[ $value == 0x1 ]] && pass "removable patch registered as removable" || fail "removable patch Uninstallable '$value'"

# A patch for a product that is not installed, and a patch applied twice.
"$mkpatch" --output absent.msp --target Absent.msi --replace app.txt=one-app.txt || fail "mkpatch absent"
rc=$(apply absent.msp)
[[ $rc -eq 1605 ]] && pass "patch for a product not installed rc 1605" || fail "patch for a product not installed rc $rc"
rc=$(apply pair.msp)
[[ $rc -eq 0 ]] && pass "applying the two-product patch again rc 0" || fail "applying again rc $rc"

echo "$failures failure(s)"
[[ $failures -eq 0 ]]
