# What the demo scripts share (sourced, not run): the bench template a user names, the keys of its
# bench.ini, and a firmware file made from what a camera holds now.
#
# Needs: $benchtool (the native benchtool) and, after create_bench, $bench (the bench folder).

# Checks the template named by the first argument (default quelmar-i) and sets $template; "list"
# prints the templates and exits. $1 of the caller is passed as $2, the script's name as $1.
choose_template() {
  template=${2:-quelmar-i}
  local templates
  templates=$($benchtool list)
  if [ "$template" = list ]; then echo "$templates"; exit 0; fi
  if ! grep -q "^$template " <<<"$templates"; then
    echo "$1: there is no bench template \"$template\"; choose one of:" >&2
    echo "$templates" >&2
    exit 2
  fi
}

# A key of a section of bench.ini.
key() {
  awk -F= -v section="[$1]" -v key="$2" '
    $0 == section { inside = 1; next }
    /^\[/ { inside = 0 }
    inside && $1 == key { sub(/[ \t]*;.*/, "", $2); gsub(/[ \t\r]/, "", $2); print $2; exit }' "$bench/bench.ini"
}

# make_firmware <camera> <file>: writes what the camera's memory holds now with the next release in
# its identity block (so that a successful download shows as the new release) and sets $chip, $vid,
# $pid, $rev and $new. Returns 1, writing nothing, for a camera without a chip model.
make_firmware() {
  local cam=$1 file=$2 memory offset
  chip=$(key "$cam" chip) vid=$(key "$cam" vid) pid=$(key "$cam" pid) rev=$(key "$cam" rev)
  case $chip in
    quelmar)
      memory=$(key "$cam" flash_image)
      case $(key "$cam" family) in f|g) offset=0x8008 ;; h) offset=0xB70A ;; i) offset=0x678A ;; *) offset=0xF000 ;; esac ;;
    sonix) memory=$(key "$cam" flash_image); offset=0xF000 ;;
    realtek) memory=$(key "$cam" eeprom_image); [ -n "$memory" ] || memory=$cam.eeprom; offset=0xF000 ;;
    *) return 1 ;;
  esac
  [ -n "$memory" ] || memory=$cam.flash
  new=$(printf '%04X' $((16#$rev + 1)))
  # A Quelmar image is the first 64 KiB of the flash, whatever the part's size.
  if [ "$chip" = quelmar ]; then head -c 65536 "$bench/$memory" > "$file"; else cp "$bench/$memory" "$file"; fi
  printf "\\x${new:2:2}\\x${new:0:2}" | dd of="$file" bs=1 seek=$((offset + 4)) conv=notrunc 2>/dev/null
}
