#!/usr/bin/env bash
# Regenerates the guides' pictures from the test suite: runs the screen tests that take them
# (Tessaw's and Orlinde's dialogs under wine on an X server of their own) and copies the chosen
# screenshots into docs/images/ under stable names; converts Orlinde's status bitmaps to PNG. The
# guides show only these pictures. They show the 32-bit kit, the one a packager ships (wine 10's
# WoW64 mode, scripts/wow64.sh), or with --kit win64 its twin; only that kit and the end-to-end test
# program are built, when missing.
#
#   scripts/screenshots.sh [--kit win32|win64]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/bench-common.sh
choose_kit screenshots.sh "$@"
export KIT_E2E_KIT=$kitname

e2e=build/native/tests/e2e/e2e_tests
if [ ! -x "$e2e" ] || [ ! -f "$kitdir/kit/Tessaw.exe" ] || [ ! -f "$kitdir/testbin/tessaw_gui.exe" ]; then
  jobs=${KIT_JOBS:-$(nproc)}
  echo "== building the $kitname kit and the end-to-end test program (once)"
  cmake --preset "$kitname" >/dev/null && cmake --build --preset "$kitname" -j "$jobs" >/dev/null
  cmake --preset native >/dev/null && cmake --build build/native --target e2e_tests -j "$jobs" >/dev/null
fi
if [ "$kitname" = win32 ]; then scripts/wow64.sh check; fi
shots=build/native/tests/e2e/screenshots
images=docs/images

# test that takes it | its screenshot | the name the guides use
pictures=(
  "TessawE2E.InteractiveSessionWithPlugEventsAndATooOldDriver|tessaw-ready.png|tessaw-ready.png"
  "TessawE2E.InteractiveSessionWithPlugEventsAndATooOldDriver|tessaw-driver-too-old.png|tessaw-driver-too-old.png"
  "TessawE2E.InteractiveSessionWithPlugEventsAndATooOldDriver|tessaw-unsuccessful.png|tessaw-failure.png"
  "TessawE2E.InteractiveRealtekUpdateStaysPaintedAndEndsGreen|tessaw-realtek-mid-update.png|tessaw-updating.png"
  "TessawE2E.InteractiveRealtekUpdateStaysPaintedAndEndsGreen|tessaw-realtek-success.png|tessaw-success.png"
  "OrlindeE2E.AQuelmarDownloadLandsInTheFlashAndShowsSuccess|orlinde-running.png|orlinde-running.png"
  "OrlindeE2E.AQuelmarDownloadLandsInTheFlashAndShowsSuccess|orlinde-success.png|orlinde-success.png"
  "OrlindeE2E.ADownloadTheCameraFailsShowsFail|orlinde-fail.png|orlinde-fail.png"
)

# No picture of an earlier run may pass for one of this run.
tests=()
for p in "${pictures[@]}"; do
  IFS='|' read -r test shot _ <<<"$p"
  rm -f "$shots/$shot"
  [[ " ${tests[*]} " == *" $test "* ]] || tests+=("$test")
done

# One process (and so one wine prefix) per program, as their ctest entries run them.
run() {  # gtest filter
  echo "== $e2e --gtest_filter=$1"
  if ! "$e2e" --gtest_filter="$1"; then
    echo "screenshots.sh: the screen tests failed; docs/images/ is left as it was" >&2
    exit 1
  fi
}
join() { local IFS=:; echo "$*"; }
run "$(join $(printf '%s\n' "${tests[@]}" | grep '^TessawE2E\.'))"
run "$(join $(printf '%s\n' "${tests[@]}" | grep '^OrlindeE2E\.'))"

mkdir -p "$images"
for p in "${pictures[@]}"; do
  IFS='|' read -r test shot name <<<"$p"
  if [ ! -s "$shots/$shot" ]; then
    echo "screenshots.sh: $test left no $shots/$shot" >&2
    exit 1
  fi
  # Stripped of the time stamps PNG writers add, so that an unchanged picture stays the same file.
  convert "$shots/$shot" -strip "$images/$name"
  echo "$images/$name  <- $test"
done

# Orlinde's status pictures, from the bitmaps its resources hold (flashtool/res/make_pictures.sh).
for bmp in idle running success fail countdown3 countdown2 countdown1; do
  convert "flashtool/res/$bmp.bmp" -strip "$images/orlinde-status-$bmp.png"
  echo "$images/orlinde-status-$bmp.png  <- flashtool/res/$bmp.bmp"
done
