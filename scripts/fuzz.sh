#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ (preset `fuzz`: clang, libFuzzer, ASan, UBSan, in build/fuzz) and
# runs them, each on a working copy of its seed corpus (fuzz/corpus/<target>/ stays as committed).
#
#   scripts/fuzz.sh short [target...]   a few seconds each (KIT_FUZZ_SECONDS, default 4): what CI runs
#   scripts/fuzz.sh long [target...]    at least KIT_FUZZ_RUNS executions each (default 1,000,000)
#   scripts/fuzz.sh list                the targets
#   scripts/fuzz.sh run <target>        one short run without building (the ctest entries)
#
# A finding stops its target with the input saved as build/fuzz/findings/<target>-crash-...; the
# script then names it and exits non-zero. Rerun one input with build/fuzz/fuzz/<target> <file>.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin=$root/build/fuzz/fuzz
mode=${1:-short}
[ $# -gt 0 ] && shift

targets() { sed -n '/^set(KIT_FUZZ_TARGETS$/,/^)/p' fuzz/targets.cmake | sed '1d;$d' | tr -s ' ' '\n' | sed '/^$/d'; }

# Every target allocates the kit's 65,536-byte INI buffers several times per input: a small
# quarantine keeps ASan from touching fresh pages for each (three times the speed), and still
# catches a use of a buffer freed within the same input. Scratch files go to memory when it can.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=8}
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

build() {
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "${KIT_JOBS:-$(nproc)}"
}

# Runs one target; prints its last status line and the executions it made.
run() {
  local target=$1; shift
  [ -x "$bin/$target" ] || { echo "fuzz.sh: $bin/$target is missing: build it with scripts/fuzz.sh short" >&2; return 2; }
  local work=$root/build/fuzz/corpus/$target findings=$root/build/fuzz/findings log
  mkdir -p "$work" "$findings"
  log=$(mktemp)
  # New inputs go to the working copy; the seeds are read only. Only the sanitizers' and the
  # targets' own checks count as findings: -rss_limit_mb and -timeout stay at libFuzzer's defaults.
  if "$bin/$target" "$work" "$root/fuzz/corpus/$target" -artifact_prefix="$findings/$target-" \
      -print_final_stats=1 "$@" >"$log" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf '%-18s ok   %10s executions\n' "$target" "$runs"
    rm -f "$log"
  else
    echo "== $target: finding" >&2
    tail -n 60 "$log" >&2
    ls "$findings/$target-"* 2>/dev/null >&2 || true
    rm -f "$log"
    return 1
  fi
}

case $mode in
  list) targets; exit 0 ;;
  run) run "$1" -max_total_time="${KIT_FUZZ_SECONDS:-4}"; exit $? ;;
  short | long) ;;
  *) echo "usage: scripts/fuzz.sh short|long|list [target...] | run <target>" >&2; exit 2 ;;
esac

# KIT_FUZZ_BUILD=0: use the targets as built (several runs side by side share one build).
[ "${KIT_FUZZ_BUILD:-1}" = 0 ] || build
[ $# -gt 0 ] || set -- $(targets)
failed=0
for target in "$@"; do
  if [ "$mode" = short ]; then
    run "$target" -max_total_time="${KIT_FUZZ_SECONDS:-4}" || failed=1
  else
    run "$target" -runs="${KIT_FUZZ_RUNS:-1000000}" || failed=1
  fi
done
exit $failed
