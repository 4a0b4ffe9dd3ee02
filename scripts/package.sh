#!/usr/bin/env bash
# Builds the two Windows kits and writes what a packager receives:
#   build/package/camkit-<version>.zip
#     x86/        the shipping kit, build/win32/kit/ (with the vendors' 32-bit libraries)
#     x64/        its twin, build/win64/kit/ (only for vendors who supply 64-bit libraries)
#     packaging.md, bench.md and the pictures they show (images/)
#     SHA256SUMS  one line per file above, made after signing
# The version is KIT_VERSION_TEXT of platform/include/kit/version.h, followed by ".<n>" when the
# kits were built with the CMake cache variable KIT_BUILD_NUMBER=<n>; the programs' version
# resources carry the same. Nothing of a build's emu/ or testbin/ folder goes in.
#
#   scripts/package.sh [--build-number N]    build win32 and win64 (N: KIT_BUILD_NUMBER, "" for none;
#                                            without it the build folders keep theirs), then pack
#   scripts/package.sh --no-build [--out DIR] pack what is built (the package tests do this)
#   --kits x86                                the 32-bit kit alone (the rebuild check's short form;
#                                             not a package to hand out)
#
# Signing (Authenticode, SHA-256, every .exe and .dll of both kits, with osslsigncode) happens when
# the environment names a certificate; the password never appears on a command line:
#   KIT_SIGN_PKCS12          the PKCS#12 file with the code-signing certificate and its key
#   KIT_SIGN_PASSWORD        its password (may be empty, but must be set)
#   KIT_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamp server
# Without KIT_SIGN_PKCS12 the package is unsigned, and this script says so.
#
# The zip is the same bytes for the same kits: fixed file order, modes and times (SOURCE_DATE_EPOCH,
# or the commit's time), no extra attributes. An unsigned package of the same commit and build
# number is the same zip wherever it is made; scripts/reproduce.sh checks that.
set -euo pipefail

# Read once, then out of the environment: nothing this script starts needs it but osslsigncode,
# which gets it on a pipe.
sign_pkcs12=${KIT_SIGN_PKCS12:-}
# Relative to where the script was started, not to the repository.
case $sign_pkcs12 in "" | /*) ;; *) sign_pkcs12=$PWD/$sign_pkcs12 ;; esac
sign_password=${KIT_SIGN_PASSWORD-}
sign_password_set=${KIT_SIGN_PASSWORD+set}
sign_timestamp=${KIT_SIGN_TIMESTAMP_URL:-}
unset KIT_SIGN_PASSWORD
cd "$(dirname "$0")/.."

build=1
out=build/package
build_number=keep
kits=both
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) build=0 ;;
    --out) out=${2:?--out needs a folder}; shift ;;
    --build-number) [ $# -ge 2 ] || { echo "package.sh: --build-number needs a number (or \"\")" >&2; exit 2; }
      build_number=$2; shift ;;
    --kits) kits=${2:?--kits needs x86 or both}; shift ;;
    *) echo "package.sh: unknown argument \"$1\" (use --no-build, --out DIR, --build-number N, --kits x86)" >&2; exit 2 ;;
  esac
  shift
done
case $kits in
  x86) presets=(win32) folders=(x86) ;;
  both) presets=(win32 win64) folders=(x86 x64) ;;
  *) echo "package.sh: --kits is x86 or both, not \"$kits\"" >&2; exit 2 ;;
esac
if [ "$build" = 0 ] && [ "$build_number" != keep ]; then
  echo "package.sh: --build-number is a build setting; it cannot go with --no-build" >&2
  exit 2
fi

version=$(sed -n 's/^#define KIT_VERSION_TEXT "\([0-9.]*\)"$/\1/p' platform/include/kit/version.h)
if [ -z "$version" ]; then
  echo "package.sh: platform/include/kit/version.h has no KIT_VERSION_TEXT \"<digits and dots>\"" >&2
  exit 1
fi

# Checked before the build, so that a missing tool or file does not cost a build first.
if [ -n "$sign_pkcs12" ]; then
  if [ ! -r "$sign_pkcs12" ]; then
    echo "package.sh: KIT_SIGN_PKCS12 names \"$sign_pkcs12\", which is not a readable file" >&2
    exit 1
  fi
  if [ "$sign_password_set" != set ]; then
    echo "package.sh: KIT_SIGN_PKCS12 is set but KIT_SIGN_PASSWORD is not (set it, empty if the file has no password)" >&2
    exit 1
  fi
  if ! command -v osslsigncode >/dev/null; then
    echo "package.sh: signing needs osslsigncode (scripts/setup.sh installs it)" >&2
    exit 1
  fi
fi

# The package's time: given, or the commit's, or (a source tree without git) version.h's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || stat -c %Y platform/include/kit/version.h)
fi
export SOURCE_DATE_EPOCH

if [ "$build" = 1 ]; then
  settings=()
  if [ "$build_number" != keep ]; then settings=("-DKIT_BUILD_NUMBER=$build_number"); fi
  for preset in "${presets[@]}"; do
    echo "== build $preset"
    cmake --preset "$preset" "${settings[@]}" >/dev/null
    cmake --build --preset "$preset" -j "${KIT_JOBS:-$(nproc)}"
  done
fi
product=
for preset in "${presets[@]}"; do
  build_dir=build/$preset
  if [ ! -f "$build_dir/kit/Tessaw.exe" ]; then
    echo "package.sh: $build_dir/kit is not built; run scripts/package.sh without --no-build" >&2
    exit 1
  fi
  # What the version resources were stamped with (version.h and KIT_BUILD_NUMBER).
  stamped=$(sed -n 's/^#define KIT_PRODUCT_VERSION_TEXT "\(.*\)"$/\1/p' "$build_dir/generated/kit/product_version.h" 2>/dev/null || true)
  case $stamped in
    "$version" | "$version".[0-9]*) ;;
    *) echo "package.sh: $build_dir was built with product version \"$stamped\", not from this version.h ($version); build again" >&2
       exit 1 ;;
  esac
  if [ -n "$product" ] && [ "$stamped" != "$product" ]; then
    echo "package.sh: build/win32 has product version $product and build/win64 $stamped (different KIT_BUILD_NUMBER); build both with the same" >&2
    exit 1
  fi
  product=$stamped
done

name=camkit-$product
stage=$(mktemp -d)
trap 'rm -rf "$stage" "$stage.sums" "$stage.log"' EXIT
mkdir -p "$stage/images"
# Only files: the kit folders hold nothing else that ships.
for preset in "${presets[@]}"; do
  folder=$([ "$preset" = win32 ] && echo x86 || echo x64)
  mkdir "$stage/$folder"
  find "build/$preset/kit" -maxdepth 1 -type f -exec cp {} "$stage/$folder/" \;
done
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

# Only the staged copies are signed: the build folders stay as built, so two builds still compare.
binaries=$(cd "$stage" && find "${folders[@]}" -maxdepth 1 -type f \( -iname '*.exe' -o -iname '*.dll' \) | LC_ALL=C sort)
if [ -n "$sign_pkcs12" ]; then
  timestamp=()
  if [ -n "$sign_timestamp" ]; then timestamp=(-ts "$sign_timestamp"); fi
  while IFS= read -r f; do
    # -readpass reads the password from the pipe: printf is a shell builtin, so it is in no
    # process's arguments.
    if ! printf '%s' "$sign_password" | osslsigncode sign -pkcs12 "$sign_pkcs12" -readpass /dev/stdin \
        -h sha256 -n "Camera firmware kit" "${timestamp[@]}" \
        -in "$stage/$f" -out "$stage/$f.signed" >"$stage.log" 2>&1; then
      echo "package.sh: signing $f failed:" >&2
      cat "$stage.log" >&2
      rm -f "$stage.log"
      exit 1
    fi
    mv "$stage/$f.signed" "$stage/$f"
  done <<<"$binaries"
  rm -f "$stage.log"
  signed="signed (Authenticode, SHA-256${sign_timestamp:+, time-stamped}): $(wc -l <<<"$binaries") programs and DLLs"
else
  signed="UNSIGNED: no certificate given (set KIT_SIGN_PKCS12 and KIT_SIGN_PASSWORD to sign)"
fi

# Listed before SHA256SUMS exists, so that it does not list itself.
files=$(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
(cd "$stage" && while IFS= read -r f; do sha256sum "$f"; done <<<"$files" > "$stage.sums" && mv "$stage.sums" SHA256SUMS)

# Same files, same zip: the modes and times come from here, not from the build or the umask.
(cd "$stage" && find . -type f -exec chmod 0644 {} + && find "${folders[@]}" -type f \( -iname '*.exe' -o -iname '*.dll' \) -exec chmod 0755 {} +)
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$out"
zip_path=$(cd "$out" && pwd)/$name.zip
rm -f "$zip_path"
# Fixed order, no extra attributes (-X: no owner, no extended times) and no folder entries; zip
# writes local time, so the zone is fixed too.
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | TZ=UTC zip -X -D -q "$zip_path" -@)
echo "package: $zip_path ($(find "$stage" -type f | wc -l) files), $signed"
