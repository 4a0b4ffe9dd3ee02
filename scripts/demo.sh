#!/usr/bin/env bash
# The kit's main job on an emulated bench: a silent update started with `Tessac -s`, as a packager's
# script would start it, on a machine whose cameras come from one bench template (default: the
# Quelmar camera quelmar-i). Shows what Tessac prints, its exit code, the update log and the cameras
# afterwards. It runs the 32-bit kit, the one a packager ships (in wine 10's WoW64 mode, in the tree
# that scripts/wow64.sh makes), or with --kit win64 its 64-bit twin; it builds only that kit and
# benchtool when they are missing.
#
#   scripts/demo.sh [--kit win32|win64] [template]   e.g. sonix, realtek, realtek-combo, quelmar-f;
#                                                    "list" names them all
set -euo pipefail
cd "$(dirname "$0")/.."
# The updater's dialog exists even when hidden: run everything under an X server of our own.
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a "$PWD/scripts/demo.sh" "$@"; fi
. scripts/bench-common.sh
choose_kit demo.sh "$@"
build_for_demo "$kitdir/kit/Tessaw.exe" "$kitdir/emu/RvcLib.dll" build/native/tools/benchtool/benchtool
benchtool=$PWD/build/native/tools/benchtool/benchtool
started=$SECONDS

choose_template demo.sh "${args[0]:-}"

demo=$PWD/build/demo
bench=$demo/bench
rm -rf "$demo"
mkdir -p "$demo/kit"
$benchtool create "$template" "$bench"

# The updater's folder: what a packager ships, plus the two vendor-library stand-ins (emulation only).
cp "$kitdir"/kit/* "$kitdir/emu/RvcLib.dll" "$kitdir/emu/BurnerApLib.dll" "$demo/kit/"

demo_prefix
export CAMKIT_BENCH="$bench"
echo "== the $kitname kit: $(file -b "$demo/kit/Tessaw.exe" | cut -d, -f1)"

# Per camera: the firmware file config.ini names for its product ID, made from what the camera holds
# now with the next revision in its identity block (so the update shows in the revision afterwards),
# and, for a Quelmar camera, the driver that the updater's driver check reads from the registry.
for cam in $(key bench cameras | tr ',' ' '); do
  pid=$(key "$cam" pid)
  pid=${pid^^}
  name=$(grep -i "^SysID_XXXX_PID_${pid}_" "$demo/kit/config.ini" | head -1 | cut -d= -f2 | tr -d '\r ' || true)
  if [ -z "$name" ]; then echo "(camera $cam: config.ini names no firmware for product $pid)"; continue; fi
  make_firmware "$cam" "$demo/kit/$name" || continue
  pid=${pid^^}
  echo "firmware for camera $cam ($chip, $vid:$pid, revision $rev): $name, revision $new"

  if [ "$chip" = quelmar ]; then
    register_quelmar_driver "$cam"
  fi
done

cd "$demo/kit"
echo "== Tessac -s ($kitname kit) on the emulated bench $CAMKIT_BENCH (template $template)"
set +e
$wine Tessac.exe -s 2>/dev/null
code=$?
set -e
echo "== Tessac's exit code: $code"
cd - >/dev/null
echo "== FW Update Log.log:"
tr -d '\r' < "$demo/kit/FW Update Log.log" || echo "(no log)"
echo "== the bench afterwards:"
$benchtool show "$bench"
$wineserver -k 2>/dev/null || true
echo "== $((SECONDS - started)) s"
