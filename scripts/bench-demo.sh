#!/usr/bin/env bash
# The bench write tool on an emulated bench: Orlinde flashes the camera of a bench template by
# itself (AutoDL) and closes when done (CmdLineMode), as a bench script starts it. Shows the tool's
# log view, the status picture, how the tool ended and the camera's state afterwards.
#
#   scripts/bench-demo.sh [--kit win32|win64] [template]      default quelmar-i; "list" names them
#
# It runs the 32-bit kit, the one a packager ships (wine 10's WoW64 mode, scripts/wow64.sh), or with
# --kit win64 its 64-bit twin, and builds only that kit and benchtool when they are missing.
#
# The tool's own message box at the end (CmdLineMsg) holds the dialog open long enough to read
# it; the demo reads it with the end-to-end tests' GUI helper and then dismisses the box, as the
# technician would.
set -euo pipefail
cd "$(dirname "$0")/.."
# The tool is a dialog: run everything under an X server of our own.
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a "$PWD/scripts/bench-demo.sh" "$@"; fi
. scripts/bench-common.sh
choose_kit bench-demo.sh "$@"
build_for_demo "$kitdir/kit/Orlinde.exe" "$kitdir/testbin/orlinde_gui.exe" "$kitdir/emu/RvcLib.dll" \
  build/native/tools/benchtool/benchtool
benchtool=$PWD/build/native/tools/benchtool/benchtool
started=$SECONDS

choose_template bench-demo.sh "${args[0]:-}"
case $template in
  no-camera) echo "bench-demo.sh: \"$template\" has no camera to flash; choose another template" >&2; exit 2 ;;
esac

demo=$PWD/build/bench-demo
bench=$demo/bench
kit=$demo/kit
rm -rf "$demo"
mkdir -p "$kit/bin"
$benchtool create "$template" "$bench" >/dev/null

# The tool's folder: the program and the two vendor-library stand-ins (emulation only).
cp "$kitdir/kit/Orlinde.exe" "$kitdir/emu/RvcLib.dll" "$kitdir/emu/BurnerApLib.dll" "$kit/"

# The firmware for each camera: what it holds now with the next release in its identity block, so
# that a successful download shows in the release the camera reports afterwards. One pid.ini
# section names it (a two-device Realtek module: one file per device, under the device's key).
cameras=$(key bench cameras | tr ',' ' ')
first=${cameras%% *}
section=PID_$(key "$first" pid | tr a-z A-Z)
printf '[%s]\r\nModuleID=Bench %s\r\n' "$section" "$template" > "$kit/pid.ini"
for cam in $cameras; do
  name=fw_$cam.bin
  make_firmware "$cam" "$kit/bin/$name" || continue
  echo "firmware for camera $cam ($chip, $vid:$pid, release $rev): bin/$name, release $new"
  case ${pid^^} in
    041F|0604) printf '%s=%s\r\n' "${pid,,}" "$name" >> "$kit/pid.ini" ;;
    *) if [ "$cam" = "$first" ]; then printf 'BIN=%s\r\nVER=%s\r\n' "$name" "$new" >> "$kit/pid.ini"
       else echo "  (the tool gives camera $cam the file of $first: one BIN per module)"; fi ;;
  esac
done
printf '[SETTING]\r\nChooseBinUsePid=1\r\nAutoDL=1\r\nCmdLineMode=1\r\nCmdLineMsg=1\r\n' > "$kit/setting.ini"

demo_prefix
export CAMKIT_BENCH="$bench"
caption="Brevant Serial Flash Write Tool for ALL IC v1.0.2.3_ZR"
# The prefix is made once, before the tool and the helper start side by side.
$wine reg add 'HKCU\Software\Kit' /v Demo /d 1 /f >/dev/null 2>&1 || true

echo "== Orlinde ($kitname kit: $(file -b "$kit/Orlinde.exe" | cut -d, -f1)) with AutoDL and CmdLineMode on the emulated bench $CAMKIT_BENCH (template $template)"
set +e
(cd "$kit" && exec $wine Orlinde.exe >/dev/null 2>&1) &
tool=$!
# AutoDL starts Quelmar and Realtek downloads by itself; a Sonix camera waits for "Flash".
steps=(find "$caption")
if [ "$(key "$first" chip)" = sonix ]; then steps+=(wait-enabled 1003 1 click 1003); fi
steps+=(box fields box-ok)
seen=$($wine "$kitdir/testbin/orlinde_gui.exe" "${steps[@]}" 2>/dev/null | tr -d '\r')
helper=$?
if [ $helper -ne 0 ]; then
  # No end of a download to wait for (the helper says what it saw last): stop the tool.
  echo "(the tool's dialog could not be read to the end: $(tail -1 <<<"$seen"))"
  $wineserver -k 2>/dev/null
fi
wait $tool
code=$?
set -e
field() { sed -n "s/^$1=//p" <<<"$seen"; }
echo "== the log view:"
field view | sed 's/\\r\\n/\n/g; s/\\n/\n/g; s/\\r//g'
echo "== status picture: $(field picture); the message box: $(field box | cut -d'|' -f1,2 | tr '|' ' ')"
if [ $helper -eq 0 ]; then echo "== Orlinde closed itself (exit code $code)"; else echo "== Orlinde was stopped"; fi
echo "== the bench afterwards:"
$benchtool show "$bench"
$wineserver -k 2>/dev/null || true
echo "== $((SECONDS - started)) s"
