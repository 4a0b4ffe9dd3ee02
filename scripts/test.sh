#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests and the end-to-end tests under wine64.
# Pass ctest arguments to narrow the run, e.g. `scripts/test.sh -L unit` or `scripts/test.sh -LE slow`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
cd build/native
ctest --output-on-failure -j "${KIT_JOBS:-$(nproc)}" "$@"
