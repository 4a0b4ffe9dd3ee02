#!/usr/bin/env bash
# Checks what a built Windows binary shows the loader, with the target's objdump:
#   pe_names.sh exports <objdump> <format> <def file> <dll>
#       the DLL is of <format> (pei-i386, pei-x86-64) and exports exactly the names of the .def
#       file, undecorated;
#   pe_names.sh delay-imports <objdump> <format> <def file> <exe> <dll name> <pe_delay_imports>
#       the program does not import <dll name> plainly (the system loader would resolve that before
#       any code of the program runs, from the current directory when the program's folder lacks
#       it), it imports names from it delay-loaded, and every one is one of the .def file's names.
# A 32-bit library built as __stdcall would export "Name@8", and a program built against such a
# declaration would import it: the vendor's __cdecl library then cannot satisfy the import.
set -euo pipefail

mode=$1 objdump=$2 format=$3 def=$4 binary=$5

fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$binary" ] || fail "$binary is missing (build the preset that makes it first)"
[ -f "$def" ] || fail "$def is missing"

# The names after EXPORTS, without comments and blanks.
def_names=$(awk '/^[[:space:]]*;/ {next} /^EXPORTS/ {on=1; next} on && NF {print $1}' "$def" | sort)
[ -n "$def_names" ] || fail "$def lists no exports"

dump=$("$objdump" -p "$binary") || fail "$objdump cannot read $binary"
grep -q "file format $format\$" <<<"$dump" || fail "$binary is not $format: $(grep -m1 'file format' <<<"$dump")"

case $mode in
exports)
    got=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && !NF {exit} on {print $NF}' <<<"$dump" | sort)
    [ -n "$got" ] || fail "$binary exports nothing"
    if grep -q '@' <<<"$got"; then fail "$binary exports decorated names: $(grep '@' <<<"$got" | tr '\n' ' ')"; fi
    if [ "$got" != "$def_names" ]; then
        echo "expected (from $def):" >&2; echo "$def_names" >&2
        echo "exported by $binary:" >&2; echo "$got" >&2
        fail "$binary's export names differ from $def"
    fi
    echo "$binary: $(wc -l <<<"$got") undecorated exports, as $def lists"
    ;;
delay-imports)
    dll=$6 lister=$7
    if grep -qix "[[:space:]]*DLL Name: $dll" <<<"$dump"; then
        fail "$binary imports $dll plainly: the system loader resolves it before the program runs"
    fi
    got=$("$lister" "$binary" "$dll" | sort) || fail "$binary has no delay-loaded import of $dll"
    [ -n "$got" ] || fail "$binary imports nothing from $dll"
    while read -r name; do
        grep -qx -- "$name" <<<"$def_names" || fail "$binary imports '$name' from $dll, which $def does not export"
    done <<<"$got"
    echo "$binary: imports $(wc -l <<<"$got") names from $dll delay-loaded, all undecorated exports of $def"
    ;;
*) fail "unknown mode $mode" ;;
esac
