#!/usr/bin/env bash
# Configures and builds the presets: native (tests, ASan+UBSan), win64 (the tested twin of the kit),
# win32 (the kit a packager ships) and fuzz (the fuzz targets, clang; their short runs are ctest
# entries of native).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${KIT_JOBS:-$(nproc)}
for preset in native win64 win32 fuzz; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
