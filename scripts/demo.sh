#!/usr/bin/env bash
# The kit's main job on an emulated bench: a silent update started with `Tessac -s`, as a packager's
# script would start it, on a machine whose only camera is an emulated Quelmar camera. Shows what
# Tessac prints, its exit code, the update log and the camera afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
# The updater's dialog exists even when hidden: run everything under an X server of our own.
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a "$PWD/scripts/demo.sh" "$@"; fi
[ -x build/win64/kit/Tessaw.exe ] && [ -x build/native/tools/benchtool/benchtool ] || scripts/build.sh

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/kit"
build/native/tools/benchtool/benchtool create quelmar-i "$demo/bench"

# The updater's folder: what a packager ships, plus the two vendor-library stand-ins (emulation only).
cp build/win64/kit/* build/win64/emu/RvcLib.dll build/win64/emu/BurnerApLib.dll "$demo/kit/"
# The firmware config.ini names for product B5A4: an erased 64 KiB image carrying identity block
# 3A7C/B5A4/revision 0013 at 0x678A, where family 'i' firmware keeps it.
dd if=/dev/zero bs=65536 count=1 2>/dev/null | tr '\0' '\377' > "$demo/kit/FW_B5A4_05.bin"
printf '\x7c\x3a\xa4\xb5\x13\x00' | dd of="$demo/kit/FW_B5A4_05.bin" bs=1 seek=$((0x678A)) conv=notrunc 2>/dev/null

export WINEPREFIX="$demo/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export CAMKIT_BENCH="$demo/bench"
wine=/usr/lib/wine/wine64
instance=$(build/native/tools/benchtool/benchtool show "$demo/bench" | grep -o '6&[0-9a-f]*&0&0000' | head -1)

# The camera's driver, as the updater's driver check reads it (wine keeps both control sets apart).
for set in CurrentControlSet ControlSet001; do
  $wine reg add "HKLM\\SYSTEM\\$set\\Enum\\USB\\Vid_3a7c&Pid_b5a4&MI_00\\$instance" /v Driver \
    /d '{6bdd1fc6-810f-11d0-bec7-08002be2092f}\0000' /f >/dev/null 2>&1
  $wine reg add "HKLM\\SYSTEM\\$set\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0000" \
    /v DriverVersion /d 6.1.7601.1 /f >/dev/null 2>&1
done
cd "$demo/kit"
echo "== Tessac -s on the emulated bench $CAMKIT_BENCH"
set +e
$wine Tessac.exe -s 2>/dev/null
code=$?
set -e
echo "== Tessac's exit code: $code"
cd - >/dev/null
echo "== FW Update Log.log:"
tr -d '\r' < "$demo/kit/FW Update Log.log" || echo "(no log)"
echo "== the bench afterwards:"
build/native/tools/benchtool/benchtool show "$demo/bench"
/usr/lib/wine/wineserver -k 2>/dev/null || true
