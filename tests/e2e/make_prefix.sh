#!/usr/bin/env bash
# Makes the wine prefix that every end-to-end case of a kit copies (tests/e2e/wine.cpp): the same
# settings as a prefix a case would make itself, settled by one program run, its wine server
# stopped. Made by the wine that runs the cases: the machine's wine64 ("host"), or wine 10 in the
# tree of scripts/wow64.sh ("tree", what the 32-bit kit needs).
#
#   make_prefix.sh host|tree PREFIX WOW64_SCRIPT SOURCE_DIR
set -euo pipefail
mode=$1 prefix=$2 wow64=$3
export KIT_WOW64_BIND=$4
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ "$mode" = tree ]; then
  "$wow64" check
  wine=("$wow64" run /usr/lib/wine/wine64)
  server=("$wow64" run /usr/lib/wine/wineserver)
else
  server=(wineserver)
  for s in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do [ -x "$s" ] && server=("$s") && break; done
  wine=(/usr/lib/wine/wine64)
fi
rm -rf "$prefix"
mkdir -p "$prefix"
trap '"${server[@]}" -k >/dev/null 2>&1 || true' EXIT
"${server[@]}" -p
timeout 240 "${wine[@]}" wineboot -i >/dev/null 2>&1
timeout 120 "${wine[@]}" cmd /c exit 0 >/dev/null 2>&1
# The registry reaches the disk when the server ends.
"${server[@]}" -k >/dev/null 2>&1 || true
"${server[@]}" -w >/dev/null 2>&1 || true
test -f "$prefix/system.reg"
