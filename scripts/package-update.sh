#!/usr/bin/env bash
# One silent update from a package: unpacks camkit-<version>.zip, takes one of its kits as it is
# (signed or not), adds the two vendor-library stand-ins of the matching build (emulation only, never
# packed), makes a bench from a template with a firmware file for its camera, registers the camera's
# driver in a fresh wine prefix and runs `Tessac -s` there, as an install script would. Succeeds
# only when Tessac says "Update successfully, please reboot.", exits with 0, and the camera then
# reports the firmware's new revision.
#
#   scripts/package-update.sh [options] <camkit-....zip, or a folder holding one>
#     --kit x64|x86     which kit of the package to run (default x64, the twin)
#     --template NAME   bench template (default quelmar-i; scripts/demo.sh list names them)
#     --signed          also require every program and DLL of that kit to carry a signature
#     --work DIR        where to unpack and run (default: a new temporary folder)
#
# The kit must be run by a wine that can run it: KIT_WINE is the command that starts a Windows
# program, KIT_WINESERVER the matching wineserver (stopped at the end). Defaults: the machine's
# wine64 for x64; for x86 wine 10 in the tree of scripts/wow64.sh (`scripts/wow64.sh run ...`), on
# a machine that can run 32-bit code. The stand-ins come from build/win64/emu (x64) or
# build/win32/emu (x86), benchtool from build/native.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

kit=x64
template=quelmar-i
require_signed=0
work=
zip=
while [ $# -gt 0 ]; do
  case $1 in
    --kit) kit=${2:?--kit needs x64 or x86}; shift ;;
    --template) template=${2:?--template needs a name}; shift ;;
    --signed) require_signed=1 ;;
    --work) work=${2:?--work needs a folder}; shift ;;
    -*) echo "package-update.sh: unknown option \"$1\"" >&2; exit 2 ;;
    *) zip=$1 ;;
  esac
  shift
done
# A folder: the one package in it.
if [ -n "$zip" ] && [ -d "$zip" ]; then
  found=("$zip"/camkit-*.zip)
  [ ${#found[@]} = 1 ] && [ -f "${found[0]}" ] || { echo "package-update.sh: $zip holds no single camkit-*.zip" >&2; exit 2; }
  zip=${found[0]}
fi
[ -n "$zip" ] && [ -f "$zip" ] || { echo "package-update.sh: name the package zip (scripts/package.sh makes it)" >&2; exit 2; }
zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
case $kit in
  x64) build=$repo/build/win64; format=pei-x86-64; objdump=x86_64-w64-mingw32-objdump
       wine=${KIT_WINE:-/usr/lib/wine/wine64}; wineserver=${KIT_WINESERVER:-/usr/lib/wine/wineserver} ;;
  x86) build=$repo/build/win32; format=pei-i386; objdump=i686-w64-mingw32-objdump
       # Wine 10's WoW64 mode in the tree of scripts/wow64.sh, as the end-to-end cases run it.
       wine=${KIT_WINE:-$repo/scripts/wow64.sh run /usr/lib/wine/wine64}
       wineserver=${KIT_WINESERVER:-$repo/scripts/wow64.sh run /usr/lib/wine/wineserver}
       if [ -z "${KIT_WINE:-}" ]; then
         "$repo/scripts/wow64.sh" supported && "$repo/scripts/wow64.sh" check || exit 2
       fi ;;
  *) echo "package-update.sh: --kit is x64 or x86, not \"$kit\"" >&2; exit 2 ;;
esac
benchtool=$repo/build/native/tools/benchtool/benchtool
for need in "$benchtool" "$build/emu/RvcLib.dll" "$build/emu/BurnerApLib.dll"; do
  [ -f "$need" ] || { echo "package-update.sh: $need is not built" >&2; exit 1; }
done
# The updater's dialog exists even when hidden: run under an X server of our own.
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a "$0" --kit "$kit" --template "$template" \
  $([ "$require_signed" = 1 ] && echo --signed) ${work:+--work "$work"} "$zip"; fi

. "$repo/scripts/bench-common.sh"
choose_template package-update.sh "$template"
[ -n "$work" ] || work=$(mktemp -d)
rm -rf "$work/unpacked" "$work/run" "$work/bench" "$work/wineprefix"
mkdir -p "$work/unpacked" "$work/run"
bench=$work/bench
unzip -q "$zip" -d "$work/unpacked"
(cd "$work/unpacked" && sha256sum --quiet -c SHA256SUMS) || { echo "package-update.sh: SHA256SUMS does not match" >&2; exit 1; }
[ -f "$work/unpacked/$kit/Tessac.exe" ] || { echo "package-update.sh: the package has no $kit/Tessac.exe" >&2; exit 1; }

# The kit exactly as packed, and only then the stand-ins beside it.
cp "$work/unpacked/$kit"/* "$work/run/"
for f in "$work/run"/*.exe "$work/run"/*.dll; do
  # A run that quietly used the other kit's programs would prove nothing about this one.
  "$objdump" -f "$f" | grep -q "file format $format" || { echo "package-update.sh: $f is not $format" >&2; exit 1; }
  if [ "$require_signed" = 1 ]; then
    osslsigncode extract-signature -in "$f" -out "$work/signature.der" >/dev/null 2>&1 ||
      { echo "package-update.sh: $kit/$(basename "$f") carries no signature" >&2; exit 1; }
    rm -f "$work/signature.der"
  fi
done
cp "$build/emu/RvcLib.dll" "$build/emu/BurnerApLib.dll" "$work/run/"
echo "== $kit of $(basename "$zip")$([ "$require_signed" = 1 ] && echo ", signed") on bench template $template"

export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export CAMKIT_BENCH="$bench"
"$benchtool" create "$template" "$bench" >/dev/null

# Per camera: the firmware file config.ini names for it, with the next revision, and for a Quelmar
# camera the driver the updater's driver check reads (as scripts/demo.sh does).
expect=()
for cam in $(key bench cameras | tr ',' ' '); do
  pid=$(key "$cam" pid)
  pid=${pid^^}
  name=$(grep -i "^SysID_XXXX_PID_${pid}_" "$work/run/config.ini" | head -1 | cut -d= -f2 | tr -d '\r ' || true)
  [ -n "$name" ] || continue
  make_firmware "$cam" "$work/run/$name" || continue
  pid=${pid^^}
  expect+=("$cam:$new")
  if [ "$chip" = quelmar ]; then
    register_quelmar_driver "$cam"
  fi
done
[ ${#expect[@]} -gt 0 ] || { echo "package-update.sh: config.ini names no firmware for a camera of $template" >&2; exit 1; }

set +e
# The programs' trace (OutputDebugStringA) is kept beside the run: when the update fails, it and the
# update log are what tell why.
output=$(cd "$work/run" && WINEDEBUG=-all,+debugstr timeout 300 $wine Tessac.exe -s 2>"$work/trace.txt" | tr -d '\r')
code=$?
set -e
[ -z "$wineserver" ] || "$wineserver" -k 2>/dev/null || true
echo "$output"
echo "== Tessac's exit code: $code"
after=$("$benchtool" show "$bench")
failed=0
[ "$code" = 0 ] || { echo "FAIL: Tessac exited with $code"; failed=1; }
grep -qx "Update successfully, please reboot." <<<"$output" || { echo "FAIL: Tessac did not say \"Update successfully, please reboot.\""; failed=1; }
for e in "${expect[@]}"; do
  cam=${e%%:*} rev=${e#*:}
  got=$(awk -v head="[$cam]" 'index($0, head) == 1 { inside = 1; next } /^\[/ { inside = 0 }
    inside && /identity:/ { print $NF; exit }' <<<"$after")
  [ "$got" = "$rev" ] || { echo "FAIL: camera $cam reports REV $got, the firmware has $rev"; failed=1; }
done
if [ "$failed" != 0 ]; then
  echo "$after"
  for log in "$work/run"/*.log; do
    if [ -f "$log" ]; then echo "== $(basename "$log")"; tr -d '\r' <"$log"; fi
  done
  echo "== the programs' trace, last 60 lines of $work/trace.txt"
  { grep -a 'debugstr' "$work/trace.txt" || true; } | tail -60 | sed 's/^[0-9a-f]*:warn:debugstr:OutputDebugStringA //'
  exit 1
fi
echo "package-update: $kit of $(basename "$zip") updated every camera of $template (REV ${expect[*]#*:})"
