#!/usr/bin/env bash
# Builds the two Windows kits and writes what a packager receives:
#   build/package/camkit-<version>.zip
#     x86/        the shipping kit, build/win32/kit/ (with the vendors' 32-bit libraries)
#     x64/        its twin, build/win64/kit/ (only for vendors who supply 64-bit libraries)
#     packaging.md, bench.md and the pictures they show (images/)
#     SHA256SUMS  one line per file above
# The version is KIT_VERSION_TEXT of platform/include/kit/version.h, which the programs' version
# resources use too. Nothing of a build's emu/ or testbin/ folder goes in.
#
#   scripts/package.sh                        build win32 and win64, then pack
#   scripts/package.sh --no-build [--out DIR] pack what is built (the package test does this)
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
out=build/package
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) build=0 ;;
    --out) out=${2:?--out needs a folder}; shift ;;
    *) echo "package.sh: unknown argument \"$1\" (use --no-build, --out DIR)" >&2; exit 2 ;;
  esac
  shift
done

version=$(sed -n 's/^#define KIT_VERSION_TEXT "\([0-9.]*\)"$/\1/p' platform/include/kit/version.h)
if [ -z "$version" ]; then
  echo "package.sh: platform/include/kit/version.h has no KIT_VERSION_TEXT \"<digits and dots>\"" >&2
  exit 1
fi

if [ "$build" = 1 ]; then
  for preset in win32 win64; do
    echo "== build $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "${KIT_JOBS:-$(nproc)}"
  done
fi
for kit in build/win32/kit build/win64/kit; do
  if [ ! -f "$kit/Tessaw.exe" ]; then
    echo "package.sh: $kit is not built; run scripts/package.sh without --no-build" >&2
    exit 1
  fi
done

name=camkit-$version
stage=$(mktemp -d)
trap 'rm -rf "$stage" "$stage.sums"' EXIT
mkdir -p "$stage/x86" "$stage/x64" "$stage/images"
# Only files: the kit folders hold nothing else that ships.
find build/win32/kit -maxdepth 1 -type f -exec cp {} "$stage/x86/" \;
find build/win64/kit -maxdepth 1 -type f -exec cp {} "$stage/x64/" \;
for guide in docs/packaging.md docs/bench.md; do
  cp "$guide" "$stage/"
  # The pictures the guide shows, and nothing else of docs/images/.
  for picture in $(grep -o 'images/[A-Za-z0-9_.-]*\.png' "$guide" | sort -u); do
    if [ ! -f "docs/$picture" ]; then
      echo "package.sh: $guide shows docs/$picture, which does not exist (scripts/screenshots.sh makes it)" >&2
      exit 1
    fi
    cp "docs/$picture" "$stage/images/"
  done
done

# Listed before SHA256SUMS exists, so that it does not list itself.
files=$(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
(cd "$stage" && while IFS= read -r f; do sha256sum "$f"; done <<<"$files" > "$stage.sums" && mv "$stage.sums" SHA256SUMS)

mkdir -p "$out"
zip_path=$(cd "$out" && pwd)/$name.zip
rm -f "$zip_path"
# Fixed order and no extra attributes, so that the same files make the same listing.
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | zip -X -q "$zip_path" -@)
echo "package: $zip_path ($(find "$stage" -type f | wc -l) files)"
