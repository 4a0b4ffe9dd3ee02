#!/usr/bin/env bash
# Configures and builds the three presets: native (tests, ASan+UBSan), win64 (the tested twin of the
# kit), win32 (the kit a packager ships).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${KIT_JOBS:-$(nproc)}
for preset in native win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
