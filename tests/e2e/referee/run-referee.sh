#!/usr/bin/env bash
# msiexec as the referee: each case's patches are applied once with `msiexec /p`, one patch at a
# time in the order Wine's Windows Installer gives (it keeps the order it is given, where
# Windows would follow MsiPatchSequence), and once with a packed updater run with -a, each
# side starting from the same prepared prefix; then the two end states must agree: every
# installed file's bytes, each product's version and the patches Windows Installer lists for it
# in each context, and the exit codes.
# The products, patches, prepared prefix and the msiexec side's end state do not depend on the
# updater's flavour: they are made once into SHARED (kept while this script, the product source
# and the patch builder stay the same) and every flavour's run compares against them.
# Every case has products of its own, so the cases share one prefix per side without meeting.
# Usage: run-referee.sh UPDATER PACK MKPATCH TOOL WORK SHARED RUNNER
set -uo pipefail
updater=$(readlink -f "$1")
pack=$(readlink -f "$2")
mkpatch=$(readlink -f "$3")
tool=$(readlink -f "$4")
work=$5
shared=$6
runner=$7
here=$(cd "$(dirname "$0")" && pwd)
wxs="$here/referee.wxs"
scripts="$here/../../../scripts"

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

die() { echo "referee set-up: $*"; exit 1; }

# Every prefix this script may have a wineserver running for.
stop_servers() {
  local prefix
  for prefix in "$shared/prepared" "$shared/msiexec-prefix" "$work/prefix"; do
    [[ -d $prefix ]] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  done
  wait
}
trap stop_servers EXIT

code() { echo "{7E550000-0000-4000-8000-$1}"; }

# Cases: name, then "product=CODE:NAME:ARCH:SCOPE:NOTESLEVEL:INSTALLED", "patch=FILE" in the
# order they are packed, "repeat" for a run made twice and "hold" for a run during which the
# product's app.txt is held open (a restart need, 3010).
cases=(
  "machine-x86 product=0000000000E1:RefA:x86:perMachine:1:yes patch=a.msp"
  "machine-x64 product=0000000000E2:RefB:x64:perMachine:1:yes patch=b.msp"
  "per-user product=0000000000E3:RefC:x86:perUser:1:yes patch=c.msp"
  "feature-absent product=0000000000E4:RefD:x86:perMachine:2:yes patch=d.msp"
  "new-file product=0000000000E5:RefE:x86:perMachine:1:yes patch=e.msp"
  "small-update product=0000000000E6:RefF:x86:perMachine:1:yes patch=f.msp"
  "patch-order product=0000000000E7:RefG:x86:perMachine:1:yes patch=g2.msp patch=g1.msp"
  "two-products product=0000000000E8:RefH:x86:perMachine:1:yes product=0000000000E9:RefI:x64:perMachine:1:yes patch=h.msp"
  "version-mismatch product=0000000000EA:RefJ:x86:perMachine:1:yes patch=j.msp"
  "repeated product=0000000000EB:RefK:x86:perMachine:1:yes patch=k.msp repeat"
  "not-installed product=0000000000EC:RefL:x86:perMachine:1:no patch=l.msp"
  "file-in-use product=0000000000ED:RefM:x86:perMachine:1:yes patch=m.msp hold"
)

# make_msi NAME CODE ARCH SCOPE NOTESLEVEL VERSION OUT: a product package with version-1 files.
make_msi() {
  local name=$1 code=$2 arch=$3 scope=$4 level=$5 version=$6 out=$7 folder=ProgramFilesFolder source=$wxs
  [[ $arch == x64 ]] && folder=ProgramFiles64Folder
  mkdir -p "$shared/src-$name"
  printf '%s app, version 1\r\n' "$name" >"$shared/src-$name/app.txt"
  printf '%s notes, version 1\r\n' "$name" >"$shared/src-$name/notes.txt"
  if [[ $scope == perUser ]]; then
    source="$shared/src-$name/referee.wxs"
    sed 's/ InstallScope="perMachine"//' "$wxs" >"$source"
  fi
  (cd "$shared/src-$name" && wixl -a "$arch" -o "$out" -D ProductCode="$(code "$code")" \
    -D UpgradeCode="{7E550000-0000-4000-9000-$code}" -D ProductName="Tess $name" -D Folder="Tess $name" \
    -D ProgramFiles=$folder -D Version="$version" -D NotesLevel="$level" "$source" >/dev/null 2>&1)
}

# new_file NAME FILE [VERSION]: the patched content of one of a product's files.
new_file() {
  local version=${3:-2}
  mkdir -p "$shared/new"
  printf '%s %s, version %s\r\n' "$1" "$2" "$version" >"$shared/new/$1-$2-$version"
  echo "$shared/new/$1-$2-$version"
}

winpath() { winepath -w "$1" 2>/dev/null; }

# state_of CASE: the end state of one case's products in the current prefix, as text.
state_of() {
  local entry field codes=() folders=() code name arch rest
  for field in $1; do
    [[ $field == product=* ]] || continue
    IFS=: read -r code name arch rest <<<"${field#product=}"
    codes+=("$(code "$code")")
    folders+=("Tess $name")
  done
  # Wine's msiexec lists a patch applied a second time twice under its product (Windows keeps
  # one registration per patch code); the updater does not apply it again. Either way the
  # patch is listed as applied, which is what is compared.
  referee state "${codes[@]}" | uniq
  local folder base
  for folder in "${folders[@]}"; do
    for base in "$WINEPREFIX/drive_c/Program Files" "$WINEPREFIX/drive_c/Program Files (x86)"; do
      [[ -d "$base/$folder" ]] || continue
      # A file left for replacement at the restart has a made-up name: msiXXXX.tmp.
      (cd "$base" && find "$folder" -type f -print0 | sort -z | xargs -0 -r sha256sum) |
        sed 's/msi[0-9A-Za-z]*\.tmp$/msi-pending.tmp/'

    done
  done
}

# The referee tool, run by this flavour's runner in the current prefix.
referee() { TESSARVANE_WINEPREFIX_OVERRIDE=$WINEPREFIX "$runner" "$tool" "$@" 2>/dev/null | tr -d '\r'; }

# msiexec's exit code in full (through Wine's Unix exit status only its low byte would come),
# from Wine's own 64-bit msiexec, which does not depend on the updater's flavour.
msiexec_patch() {
  "$scripts/wine64" cmd /c "$(winpath "$shared/apply.bat")" "$1" 2>/dev/null </dev/null | tr -d '\r' | sed -n 's/^rc=//p'
}

# held_file FIELDS: the Windows path of the case's (first, x86) product's app.txt.
held_file() {
  local field code name rest
  for field in $1; do
    [[ $field == product=* ]] || continue
    IFS=: read -r code name rest <<<"${field#product=}"
    echo "C:\Program Files (x86)\Tess $name\app.txt"
    return
  done
}

start_server() {
  wineserver -p >/dev/null 2>&1 &
  sleep 0.5
}

stamp=$(cat "$0" "$wxs" "$mkpatch" | sha256sum | cut -c1-16)
if [[ ! -f "$shared/msiexec.state" || "$(cat "$shared/stamp" 2>/dev/null)" != "$stamp" ]]; then
  rm -rf "$shared"
  mkdir -p "$shared"
  shared=$(readlink -f "$shared")
  export WINEPREFIX="$shared/prepared"
  mkdir -p "$WINEPREFIX"
  start_server
  wineboot -i >/dev/null 2>&1 </dev/null
  # No window manager under Xvfb: without this each windowed run waits 2 s for one.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null

  for entry in "${cases[@]}"; do
    read -r name fields <<<"$entry"
    patch_args=()
    for field in $fields; do
      [[ $field == product=* ]] || continue
      IFS=: read -r code product arch scope level installed <<<"${field#product=}"
      make_msi "$product" "$code" "$arch" "$scope" "$level" 1.0.0 "../$product.msi" || die "wixl $product"
      if [[ $installed == yes ]]; then
        "$scripts/wine64" msiexec /i "$(winpath "$shared/$product.msi")" /qn >/dev/null 2>&1 </dev/null ||
          die "installing $product"
      fi
      target="$shared/$product.msi"
      case $name in
        version-mismatch)
          # Built against version 1.1.0 of the product; 1.0.0 is installed.
          make_msi "$product" "$code" "$arch" "$scope" "$level" 1.1.0 "../$product-1.1.msi" || die "wixl $product 1.1"
          target="$shared/$product-1.1.msi" ;;
      esac
      # One cabinet holds the files of every product a patch targets, by File key: the
      # second product of a patch replaces its other file.
      replaced=app.txt
      [[ " ${patch_args[*]} " == *" --target "* ]] && replaced=notes.txt
      patch_args+=(--target "$target" --replace "$replaced=$(new_file "$product" $replaced)")
      case $name in
        feature-absent) patch_args+=(--replace "notes.txt=$(new_file "$product" notes.txt)") ;;
        new-file) patch_args+=(--add "extra.txt=$(new_file "$product" extra.txt)") ;;
      esac
    done
    [[ $name == small-update ]] && patch_args=(--product-version 1.0.1 "${patch_args[@]}")
    for field in $fields; do
      [[ $field == patch=* ]] || continue
      args=("${patch_args[@]}")
      if [[ $name == patch-order ]]; then
        # One family: g1 comes first (1.0.0), g2 after it (2.0.0) and replaces app.txt again.
        n=${field#patch=g}
        n=${n%.msp}
        args=(--sequence "RefGFixes=$n.0.0" --target "$target" --replace "app.txt=$(new_file RefG app.txt $((n + 1)))")
      fi
      "$mkpatch" --output "$shared/${field#patch=}" "${args[@]}" >/dev/null || die "mkpatch $name"
    done
  done
  wineserver -k >/dev/null 2>&1
  wait

  # The msiexec side, in a copy of the prepared prefix.
  printf '@echo off\r\nstart /wait msiexec /p %%1 /qn\r\necho rc=%%ERRORLEVEL%%\r\n' >"$shared/apply.bat"
  cp -a "$shared/prepared" "$shared/msiexec-prefix" || die "copying the prefix"
  export WINEPREFIX="$shared/msiexec-prefix"
  start_server
  for entry in "${cases[@]}"; do
    read -r name fields <<<"$entry"
    patches=()
    for field in $fields; do [[ $field == patch=* ]] && patches+=("$(winpath "$shared/${field#patch=}")"); done
    runs=1
    [[ $fields == *repeat* ]] && runs=2
    for ((run = 1; run <= runs; run++)); do
      # Each patch once, in the order Wine's Windows Installer gives for the products it applies to.
      ordered=()
      for field in $fields; do
        [[ $field == product=* ]] || continue
        IFS=: read -r code rest <<<"${field#product=}"
        while IFS= read -r patch; do
          [[ -n $patch && " ${ordered[*]} " != *" $patch "* ]] && ordered+=("$patch")
        done < <(referee sequence "$(code "$code")" "${patches[@]}")
      done
      result=0
      for patch in "${ordered[@]}"; do
        if [[ $fields == *hold* ]]; then
          rc=$(referee holding "$(held_file "$fields")" msiexec.exe /p "$patch" /qn | sed -n 's/^exit //p')
        else
          rc=$(msiexec_patch "$patch")
        fi
        if [[ $rc != 0 && $rc != 3010 ]]; then result=$rc; break; fi
        [[ $rc == 3010 ]] && result=3010
      done
      echo "== $name run $run exit $result"
    done
    state_of "$fields"
  done >"$shared/msiexec.state.new"
  wineserver -k >/dev/null 2>&1
  wait
  rm -rf "$shared/msiexec-prefix"
  mv "$shared/msiexec.state.new" "$shared/msiexec.state"
  echo "$stamp" >"$shared/stamp"
fi
shared=$(readlink -f "$shared")

# The updater side, in this flavour's copy of the prepared prefix.
rm -rf "$work"
mkdir -p "$work"
work=$(readlink -f "$work")
cp -a "$shared/prepared" "$work/prefix" || die "copying the prefix"
export WINEPREFIX="$work/prefix"
start_server
for entry in "${cases[@]}"; do
  read -r name fields <<<"$entry"
  patches=()
  for field in $fields; do [[ $field == patch=* ]] && patches+=("$shared/${field#patch=}"); done
  "$pack" build --stub "$updater" --name "Referee $name" --version 2.0 --output "$work/$name.exe" "${patches[@]}" \
    >/dev/null 2>&1 || die "packing $name"
  runs=1
  [[ $fields == *repeat* ]] && runs=2
  for ((run = 1; run <= runs; run++)); do
    if [[ $fields == *hold* ]]; then
      rc=$(referee holding "$(held_file "$fields")" "$(winpath "$work/$name.exe")" -a | sed -n 's/^exit //p')
    else
      rc=$(referee run "$(winpath "$work/$name.exe")" -a | sed -n 's/^exit //p')
    fi
    echo "== $name run $run exit $rc"
  done
  state_of "$fields"
done >"$work/updater.state"

if diff -u --label msiexec --label updater "$shared/msiexec.state" "$work/updater.state"; then
  echo "referee: msiexec and the updater agree on ${#cases[@]} cases"
  wineserver -k >/dev/null 2>&1
  rm -rf "$work/prefix"
  exit 0
fi
echo "referee: msiexec and the updater end differently (msiexec's side above, the updater's below)"
exit 1
