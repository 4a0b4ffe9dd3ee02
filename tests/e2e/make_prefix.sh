#!/usr/bin/env bash
# Makes the wine prefix that every end-to-end case copies (tests/e2e/wine.cpp): the same settings as
# a prefix a case would make itself, settled by one program run, its wine server stopped.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wine=/usr/lib/wine/wine64
server=wineserver
for s in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do [ -x "$s" ] && server=$s && break; done
rm -rf "$prefix"
mkdir -p "$prefix"
trap '"$server" -k >/dev/null 2>&1 || true' EXIT
"$server" -p
timeout 240 "$wine" wineboot -i >/dev/null 2>&1
timeout 120 "$wine" cmd /c exit 0 >/dev/null 2>&1
# The registry reaches the disk when the server ends.
"$server" -k >/dev/null 2>&1 || true
"$server" -w >/dev/null 2>&1 || true
test -f "$prefix/system.reg"
