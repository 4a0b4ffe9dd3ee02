#!/usr/bin/env bash
# The kit's main job on the emulated bench, for a machine without a camera. Until the updater
# lands this runs what exists: Kestrim finds the emulated camera of a one-camera bench and starts
# the update program its ID list names (here a stand-in that records how it was started).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/win64/kit/Kestrim.exe ] || scripts/build.sh
work=build/demo
rm -rf "$work"
mkdir -p "$work/bench"
cp build/win64/kit/Kestrim.exe build/win64/testbin/recorder.exe "$work/"
cat > "$work/bench/bench.ini" <<'INI'
[bench]
description=one camera of the module maker
cameras=cam0

[cam0]
friendly=Integrated Camera
vid=3B1D
pid=0A1B
rev=0012
mi=00
INI
printf 'VID_3b1d&PID_0a1b\trecorder.exe --update\n' > "$work/Brevant_camera_ID.txt"
export WINEPREFIX="$PWD/build/wineprefix-demo" WINEDEBUG=-all,+debugstr WINEDLLOVERRIDES="mscoree,mshtml="
export CAMKIT_BENCH="$PWD/$work/bench" KIT_TEST_RECORD="$PWD/$work/started.txt"
cd "$work"
echo "== Kestrim on the emulated bench $CAMKIT_BENCH"
set +e
/usr/lib/wine/wine64 Kestrim.exe 2> trace.txt < /dev/null
code=$?
set -e
echo "== exit code: $code"
echo "== debugger trace:"; grep -a OutputDebugStringA trace.txt | sed 's/.*OutputDebugStringA //' || true
echo "== started: $(cat started.txt 2>/dev/null || echo nothing)"
/usr/lib/wine/wineserver -k 2>/dev/null || true
