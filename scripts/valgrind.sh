#!/usr/bin/env bash
# The native unit tests under valgrind memcheck: built once without sanitizers (preset `valgrind`,
# in build/valgrind; ASan's shadow memory and valgrind cannot share a process), then every test of
# unit_tests and the camlib benchmark run under memcheck. Any memory error or leak fails the run.
#
#   scripts/valgrind.sh [gtest filter]      e.g. scripts/valgrind.sh 'Profile*'
#
# Suppressions, each with the reason it lies outside the kit, are in scripts/valgrind.supp.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset valgrind >/dev/null
cmake --build --preset valgrind -j "${KIT_JOBS:-$(nproc)}"
memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible
          --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes
          --suppressions=scripts/valgrind.supp --quiet)
# The tests' scratch folders are named after the tests: a folder of our own keeps another run of
# the suite on this machine (another checkout, the sanitizer build) from writing into them.
TMPDIR=$(mktemp -d)
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
start=$(date +%s)
status=0
"${memcheck[@]}" build/valgrind/tests/unit_tests --gtest_brief=1 --gtest_filter="${1:-*}" || status=$?
if [ -z "${1:-}" ]; then
  "${memcheck[@]}" build/valgrind/camlib/camlib_bench >/dev/null || status=$?
fi
echo "valgrind.sh: $(( $(date +%s) - start )) s under memcheck, exit $status"
exit $status
