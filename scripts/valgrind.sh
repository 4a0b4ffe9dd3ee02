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
# --track-origins=yes (KIT_VALGRIND_ORIGINS=1) says where an uninitialised value came from, at
# twice the cost.
memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible
          --errors-for-leak-kinds=definite,indirect,possible --suppressions=scripts/valgrind.supp --quiet)
[ "${KIT_VALGRIND_ORIGINS:-0}" = 1 ] && memcheck+=(--track-origins=yes)
# The tests' scratch folders are named after the tests: a folder of our own keeps another run of
# the suite on this machine (another checkout, the sanitizer build) from writing into them.
TMPDIR=$(mktemp -d)
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
start=$(date +%s)
# The suite in shards side by side (gtest's sharding), one memcheck process each.
shards=${KIT_JOBS:-$(nproc)}
pids=()
for ((i = 0; i < shards; ++i)); do
  GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i "${memcheck[@]}" build/valgrind/tests/unit_tests \
    --gtest_filter="${1:-*}" >"$TMPDIR/shard$i.log" 2>&1 &
  pids+=($!)
done
status=0
if [ -z "${1:-}" ]; then
  "${memcheck[@]}" build/valgrind/camlib/camlib_bench >/dev/null || status=$?
fi
for ((i = 0; i < shards; ++i)); do
  wait "${pids[$i]}" || status=$?
  cat "$TMPDIR/shard$i.log"
done
echo "valgrind.sh: $(( $(date +%s) - start )) s under memcheck ($shards shards), exit $status"
exit $status
