#!/usr/bin/env bash
# Rebuilds the kit twice from this source and compares: the same source must give the same programs,
# DLLs and (unsigned) package, byte for byte, whatever the folder, the time, the time zone or the
# umask of the build. The two builds run one after the other in two copies of the source at paths of
# different lengths under a temporary folder, each with a clock zone and umask of its own, with no
# compiler cache (a cached object would hide a compiler that is not reproducible).
#
#   scripts/reproduce.sh [--kits x86] [--build-number N] [--keep] [--work DIR]
#     --kits x86        only the 32-bit kit (build win32 only, pack x86/ only): what CI runs, at
#                       half the cost; by default both kits and the package a packager receives
#     --build-number N  KIT_BUILD_NUMBER for both builds (default 4711: the stamp is checked too;
#                       "" for none)
#     --keep            keep the two builds (default: removed when they are the same)
#
# The copies are the files git knows (committed or not) as they are in this work tree, so
# uncommitted changes are checked too. SOURCE_DATE_EPOCH is taken once, from the last commit, for
# the packages; the builds run without it.
# Prints the first file that differs and the offset of its first differing byte, and fails.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

kits=both
build_number=4711
keep=0
work=
while [ $# -gt 0 ]; do
  case $1 in
    --kits) kits=${2:?--kits needs x86 or both}; shift ;;
    --build-number) [ $# -ge 2 ] || { echo "reproduce.sh: --build-number needs a value" >&2; exit 2; }
      build_number=$2; shift ;;
    --keep) keep=1 ;;
    --work) work=${2:?--work needs a folder}; shift ;;
    *) echo "reproduce.sh: unknown argument \"$1\" (use --kits x86, --build-number N, --keep, --work DIR)" >&2; exit 2 ;;
  esac
  shift
done
case $kits in
  x86) presets=(win32) ;;
  both) presets=(win32 win64) ;;
  *) echo "reproduce.sh: --kits is x86 or both, not \"$kits\"" >&2; exit 2 ;;
esac

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct 2>/dev/null || stat -c %Y "$repo/platform/include/kit/version.h")
fi
export SOURCE_DATE_EPOCH
# Neither build may use a compiler cache, whatever the caller's environment says.
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1

[ -n "$work" ] || work=$(mktemp -d "${TMPDIR:-/tmp}/camkit-reproduce.XXXXXX")
mkdir -p "$work"
work=$(cd "$work" && pwd)
# Different depths and names: a build folder that leaks into a binary changes its length too.
one=$work/1/camkit
two=$work/second-build/a-longer-folder-name/source

copy_source() {
  rm -rf "$1"
  mkdir -p "$1"
  if git -C "$repo" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$repo" && git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done | tar --null -T - -cf -) | tar -xf - -C "$1"
  else
    (cd "$repo" && tar --exclude=./build -cf - .) | tar -xf - -C "$1"
  fi
}

# build <tree> <zone> <umask>
build() {
  local tree=$1 started
  started=$(date +%s)
  copy_source "$tree"
  (
    cd "$tree"
    export TZ=$2
    umask "$3"
    # Built as a packager builds by hand, without SOURCE_DATE_EPOCH: the programs must not depend on
    # it (the linker would take its time stamp from it and hide one of its own).
    for preset in "${presets[@]}"; do
      env -u SOURCE_DATE_EPOCH cmake --preset "$preset" "-DKIT_BUILD_NUMBER=$build_number" >/dev/null
      env -u SOURCE_DATE_EPOCH cmake --build "build/$preset" --target shipping_kit -j "${KIT_JOBS:-$(nproc)}" \
        >"$tree.$preset.log" 2>&1 ||
        { tail -30 "$tree.$preset.log"; echo "reproduce.sh: the $preset build in $tree failed" >&2; exit 1; }
    done
    package=(scripts/package.sh --no-build --out "$tree.package")
    if [ "$kits" = x86 ]; then package+=(--kits x86); fi
    env -u KIT_SIGN_PKCS12 "${package[@]}" >/dev/null
  )
  echo "reproduce: built $tree in $(($(date +%s) - started)) s (TZ=$2, umask $3)"
}

build "$one" UTC 0022
# Later, elsewhere, in another zone, with another umask.
sleep 2
build "$two" Pacific/Chatham 0002

# first_difference <file> <file>: the offset of the first differing byte, or the shorter length.
first_difference() {
  local at
  at=$(cmp "$1" "$2" 2>&1 | sed -n 's/.* differ: byte \([0-9]*\),.*/\1/p')
  if [ -n "$at" ]; then printf 'byte offset %d (0x%X)' $((at - 1)) $((at - 1)); return; fi
  printf 'one is %d bytes, the other %d' "$(stat -c %s "$1")" "$(stat -c %s "$2")"
}

failed=0
compared=0
compare_folder() {
  local a=$1 b=$2 label=$3 f
  local list_a list_b
  list_a=$(cd "$a" && find . -type f | LC_ALL=C sort)
  list_b=$(cd "$b" && find . -type f | LC_ALL=C sort)
  if [ "$list_a" != "$list_b" ]; then
    echo "DIFFERENT: $label holds other files: $(diff <(echo "$list_a") <(echo "$list_b") | grep '^[<>]' | tr '\n' ' ')"
    failed=1
    return
  fi
  while IFS= read -r f; do
    compared=$((compared + 1))
    if ! cmp -s "$a/$f" "$b/$f"; then
      echo "DIFFERENT: $label/${f#./}: $(first_difference "$a/$f" "$b/$f")"
      failed=1
      return
    fi
  done <<<"$list_a"
}

for preset in "${presets[@]}"; do
  compare_folder "$one/build/$preset/kit" "$two/build/$preset/kit" "build/$preset/kit"
done
# The stamp: the build number is in the version resources and the package's name.
version=$(sed -n 's/^#define KIT_VERSION_TEXT "\([0-9.]*\)"$/\1/p' "$repo/platform/include/kit/version.h")
product=$version${build_number:+.$((10#$build_number))}
if [ "$failed" = 0 ]; then
  zip_one=$(ls "$one.package"/*.zip)
  zip_two=$(ls "$two.package"/*.zip)
  if [ "$(basename "$zip_one")" != "camkit-$product.zip" ]; then
    echo "DIFFERENT: the package is $(basename "$zip_one"), not camkit-$product.zip"
    failed=1
  elif ! cmp -s "$zip_one" "$zip_two"; then
    echo "DIFFERENT: $(basename "$zip_one"): $(first_difference "$zip_one" "$zip_two")"
    failed=1
  fi
  compared=$((compared + 1))
  stamped=$(strings -el "$one/build/win32/kit/Tessaw.exe" | grep -A1 -x ProductVersion | tail -1)
  if [ "$stamped" != "$product" ]; then
    echo "DIFFERENT: Tessaw.exe carries ProductVersion \"$stamped\", not $product"
    failed=1
  fi
fi

if [ "$failed" = 1 ]; then
  echo "reproduce: NOT reproducible; both builds kept in $work (diff them with cmp -l or objdump)"
  exit 1
fi
echo "reproduce: $compared files byte-identical in two builds ($kits, product version $product, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
if [ "$keep" = 1 ]; then echo "reproduce: builds kept in $work"; else rm -rf "$work"; fi
