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

# choose_kit <script> <args...>: takes "--kit win32|win64" off the arguments and sets $kitname,
# $kitdir (its build folder), $wine and $wineserver (the commands that run it) and $args (what is
# left). The default is the 32-bit kit, the one a packager ships, which runs in wine 10's WoW64 mode
# in the tree of scripts/wow64.sh; on a machine that cannot run 32-bit code the default is its
# 64-bit twin (said so), which runs under the machine's wine64.
choose_kit() {
  local script=$1 asked=""
  shift
  args=()
  while [ $# -gt 0 ]; do
    case $1 in
      --kit) asked=${2:-}; shift 2 || shift ;;
      --kit=*) asked=${1#--kit=}; shift ;;
      *) args+=("$1"); shift ;;
    esac
  done
  case $asked in
    win32|win64|"") ;;
    *) echo "$script: --kit takes win32 (the kit a packager ships) or win64 (its twin), not \"$asked\"" >&2; exit 2 ;;
  esac
  kitname=${asked:-win32}
  if [ "$kitname" = win32 ] && ! scripts/wow64.sh supported 2>/tmp/kit-wow64-why.$$; then
    if [ -n "$asked" ]; then
      cat /tmp/kit-wow64-why.$$ >&2
      rm -f /tmp/kit-wow64-why.$$
      exit 2
    fi
    echo "== $(sed 's/^wow64: //' /tmp/kit-wow64-why.$$)"
    echo "== so this shows the 64-bit twin (build/win64/kit), the same programs from the same source"
    kitname=win64
  fi
  rm -f /tmp/kit-wow64-why.$$
  kitdir=build/$kitname
  if [ "$kitname" = win32 ]; then
    wine="$PWD/scripts/wow64.sh run /usr/lib/wine/wine64"
    wineserver="$PWD/scripts/wow64.sh run /usr/lib/wine/wineserver"
  else
    wine=/usr/lib/wine/wine64
    wineserver=/usr/lib/wine/wineserver
  fi
}

# build_for_demo <files...>: builds what a demo needs and no more (the kit's Windows preset and the
# native benchtool) when one of the files is missing, and checks that wine's tree is there.
build_for_demo() {
  local f missing=0
  for f in "$@"; do [ -e "$f" ] || missing=1; done
  if [ $missing -eq 1 ]; then
    local jobs=${KIT_JOBS:-$(nproc)}
    echo "== building the $kitname kit and benchtool (once)"
    cmake --preset "$kitname" >/dev/null && cmake --build --preset "$kitname" -j "$jobs" >/dev/null
    cmake --preset native >/dev/null && cmake --build build/native --target benchtool -j "$jobs" >/dev/null
  fi
  if [ "$kitname" = win32 ]; then scripts/wow64.sh check; fi
}

# demo_prefix: the wine prefix of the demos (build/wineprefix-demo-<kit>), made once and kept: wine
# 10 takes about half a minute to make one.
demo_prefix() {
  export WINEPREFIX="$PWD/build/wineprefix-demo-$kitname" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== making the demos' wine prefix in $WINEPREFIX (once; about half a minute)"
    $wine wineboot -i >/dev/null 2>&1 || { echo "wine could not make $WINEPREFIX" >&2; exit 1; }
  fi
}

# register_quelmar_driver <camera>: the registry keys of the driver that the updater's driver check
# reads for a Quelmar camera of the bench ($vid and $pid as make_firmware set them), in the prefix of
# $wine; wine keeps CurrentControlSet apart from ControlSet001, so both are written.
register_quelmar_driver() {
  local cam=$1 instance set
  instance=$("$benchtool" show "$bench" | awk -v head="[$cam]" 'index($0, head) == 1 { inside = 1; next }
    /^\[/ { inside = 0 } inside && /path:/' | grep -o '6&[0-9a-f]*&0&0000' | head -1)
  for set in CurrentControlSet ControlSet001; do
    $wine reg add "HKLM\\SYSTEM\\$set\\Enum\\USB\\Vid_${vid,,}&Pid_${pid,,}&MI_00\\$instance" /v Driver \
      /d '{6bdd1fc6-810f-11d0-bec7-08002be2092f}\0000' /f >/dev/null 2>&1
    $wine reg add "HKLM\\SYSTEM\\$set\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0000" \
      /v DriverVersion /d 6.1.7601.1 /f >/dev/null 2>&1
  done
}
