# Sourced by the demo and the Windows Installer scenarios: a private Wine prefix, and sample
# products built with wixl from tests/e2e/products/product.wxs, installed into the current
# WINEPREFIX.
# Each product NAME installs app.txt and notes.txt into "Program Files[ (x86)]\Tess NAME".

products_wxs="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/e2e/products/product.wxs"

# make_product DIR NAME CODE ARCH [SCOPE]: writes DIR/NAME.msi (ARCH x86 or x64) with version-1
# files. CODE is the last 12 hex digits of the product code. SCOPE perUser leaves out the
# ALLUSERS property, so the product installs per-user for the account that installs it;
# the default is perMachine.
make_product() {
  local dir=$1 name=$2 code=$3 arch=$4 scope=${5:-perMachine} folder=ProgramFilesFolder wxs=$products_wxs
  [[ $arch == x64 ]] && folder=ProgramFiles64Folder
  mkdir -p "$dir/src-$name"
  if [[ $scope == perUser ]]; then
    wxs="$dir/src-$name/product.wxs"
    sed 's/ InstallScope="perMachine"//' "$products_wxs" >"$wxs"
  fi
  printf '%s app, version 1\r\n' "$name" >"$dir/src-$name/app.txt"
  printf '%s notes, version 1\r\n' "$name" >"$dir/src-$name/notes.txt"
  (cd "$dir/src-$name" && wixl -a "$arch" -o "../$name.msi" \
    -D ProductCode="{7E550000-0000-4000-8000-$code}" \
    -D UpgradeCode="{7E550000-0000-4000-9000-$code}" \
    -D ProductName="Tess $name" -D Folder="Tess $name" -D ProgramFiles=$folder \
    -D AppSource=app.txt -D NotesSource=notes.txt "$wxs" >/dev/null 2>&1)
}

product_code() {  # product_code CODE: the full product code
  echo "{7E550000-0000-4000-8000-$1}"
}

products_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# private_prefix DIR: creates a fresh Wine prefix in DIR and makes it the current one, with its
# wineserver kept running until the sourcing shell exits (the shell's EXIT trap stops it).
# Xvfb has no window manager: Wine is told not to wait for one each time a window closes.
private_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1 &
  trap 'wineserver -k >/dev/null 2>&1; wait' EXIT
  sleep 0.5
  wineboot -i >/dev/null 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
}

# install_product DIR NAME: a silent install; 0 when msiexec installed the product. msiexec
# runs on Wine's 64-bit loader, which installs x86 and x64 packages alike and is never
# emulated. An install that asks for a restart (3010, of which Wine's Unix exit status keeps the
# low byte, 194) is installed too. A failed install is tried once more: seen once in many runs
# (the set-up, not the updater, is what such a failure would stop), and msiexec rolls a failed
# install back first.
install_product() {
  local package status
  package=$(winepath -w "$1/$2.msi" 2>/dev/null)
  for attempt in 1 2; do
    "$products_scripts/wine64" msiexec /i "$package" /qn >/dev/null 2>&1
    status=$?
    [[ $status == 0 || $status == 194 ]] && return 0
    sleep 1
  done
  return "$status"
}

# installed_file NAME ARCH FILE: the unix path of an installed file.
installed_file() {
  local dir="Program Files (x86)"
  [[ $2 == x64 ]] && dir="Program Files"
  echo "$WINEPREFIX/drive_c/$dir/Tess $1/$3"
}
