#!/usr/bin/env bash
# The package a packager receives: packs the built kits with scripts/package.sh --no-build into a
# folder of its own, unpacks the zip and checks that
#   - it holds x86/ and x64/ with the same files, each with the programs, the DLL and the example
#     configuration, built for the right machine (pei-i386 / pei-x86-64);
#   - it holds no stand-in or test program: nothing named like one, nothing that a build's emu/ or
#     testbin/ folder holds;
#   - SHA256SUMS lists every other file and every hash matches;
#   - its name and the programs' product version are the version of platform/include/kit/version.h,
#     followed by ".<n>" when the kits were built with KIT_BUILD_NUMBER=<n>.
# Needs both Windows presets built (scripts/build.sh or scripts/package.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$(mktemp -d)}
rm -rf "$work/out" "$work/unpacked"
mkdir -p "$work/out" "$work/unpacked"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

version=$(sed -n 's/^#define KIT_VERSION_TEXT "\([0-9.]*\)"$/\1/p' "$root/platform/include/kit/version.h")
[ -n "$version" ] || { echo "FAIL: no KIT_VERSION_TEXT in version.h"; exit 1; }
build_number=$(sed -n 's/^KIT_BUILD_NUMBER:STRING=//p' "$root/build/win32/CMakeCache.txt" 2>/dev/null || true)
product=$version${build_number:+.$((10#$build_number))}

"$root/scripts/package.sh" --no-build --out "$work/out"
zip="$work/out/camkit-$product.zip"
[ -f "$zip" ] || { echo "FAIL: $zip was not written"; exit 1; }
unzip -q "$zip" -d "$work/unpacked"
cd "$work/unpacked"

# Every hash matches, and every file but SHA256SUMS is listed exactly once.
if ! sha256sum --quiet -c SHA256SUMS; then fail "a hash in SHA256SUMS does not match"; fi
listed=$(sed 's/^[0-9a-f]\{64\}  //' SHA256SUMS | LC_ALL=C sort)
present=$(find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
[ "$listed" = "$present" ] || fail "SHA256SUMS lists $(wc -l <<<"$listed") files, the package holds $(wc -l <<<"$present"): $(diff <(echo "$listed") <(echo "$present") | grep '^[<>]' | tr '\n' ' ')"

for guide in packaging.md bench.md; do [ -f "$guide" ] || fail "$guide is missing"; done
x86=$(cd x86 && ls | LC_ALL=C sort)
x64=$(cd x64 && ls | LC_ALL=C sort)
[ "$x86" = "$x64" ] || fail "x86/ and x64/ differ: $(diff <(echo "$x86") <(echo "$x64") | grep '^[<>]' | tr '\n' ' ')"

for folder in x86 x64; do
  for f in Tessaw.exe Tessac.exe Kestrim.exe SubSystemID.exe Orlinde.exe QuelmarCamera.dll config.ini dev.vrk \
    Brevant_camera_ID.txt; do
    [ -f "$folder/$f" ] || fail "$folder/$f is missing"
  done
  case $folder in
    x86) objdump=i686-w64-mingw32-objdump; format=pei-i386 ;;
    x64) objdump=x86_64-w64-mingw32-objdump; format=pei-x86-64 ;;
  esac
  for f in "$folder"/*.exe "$folder"/*.dll; do
    "$objdump" -f "$f" | grep -q "file format $format" || fail "$f is not $format"
  done
  # Every version resource's ProductVersion is the package's version.
  for f in "$folder"/*.exe "$folder"/*.dll; do
    stamped=$(strings -el "$f" | grep -A1 -x ProductVersion | tail -1)
    [ "$stamped" = "$product" ] || fail "$f has ProductVersion \"$stamped\", the package $product"
  done
done

# No stand-in: neither by name nor anything a build's emulation or test folders hold.
for f in $(find . -type f | sed 's|.*/||'); do
  case ${f,,} in
    rvclib.dll | burneraplib.dll | capturestandin.dll | *standin* | *stand_in* | benchtool* | *_gui.exe | *probe*)
      fail "stand-in or test program in the package: $f" ;;
  esac
  for build in "$root"/build/win32 "$root"/build/win64; do
    for aside in emu testbin; do
      if [ -e "$build/$aside/$f" ]; then fail "$f is one of $build/$aside/"; fi
    done
  done
done

total=$(find . -type f | wc -l)
if [ "$failures" -gt 0 ]; then
  echo "0 passed, $failures failed"
  exit 1
fi
echo "package camkit-$product.zip: $total files, hashes, folders and versions checked"
