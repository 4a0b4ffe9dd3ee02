#!/usr/bin/env bash
# The environment that runs the 32-bit kit (the one a packager ships): wine 10 in its WoW64 mode, in a
# Debian 13 tree made with debootstrap from Debian's archive. Debian 12's wine 8 runs i686 console
# programs in that mode but cannot create a window there, and wine 10 does not install on Debian 12.
#
#   scripts/wow64.sh setup            build the tree (idempotent: a second run says so and does nothing);
#                                     on a machine that cannot run 32-bit code it says so and builds
#                                     nothing (KIT_WOW64_FORCE=1 builds it anyway: wine 10 runs the
#                                     64-bit twin there too)
#   scripts/wow64.sh supported        exit 0 when this machine can run 32-bit code in a 64-bit process
#                                     (what WoW64 needs), else 3 with the reason
#   scripts/wow64.sh root             print where the tree is
#   scripts/wow64.sh check            exit 0 when the tree is ready, else say why
#   scripts/wow64.sh run PROG ARGS    run PROG (a path inside the tree, e.g. /usr/lib/wine/wine64) there,
#                                     in the current folder, with the caller's environment
#
# KIT_WOW64_ROOT is the one setting: where the tree lives (outside the repository). `run` makes its
# mounts (proc, dev, /tmp, the folders it is asked to show) in a mount namespace of its own, so they
# vanish with the process that made them: nothing is left mounted, whatever way a run ends.
set -euo pipefail

root=${KIT_WOW64_ROOT:-/var/lib/camkit/wow64}
mirror=${KIT_DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=trixie
# Bumped when the recipe changes, so that an older tree is rebuilt instead of trusted.
recipe=1
marker=$root/.camkit-wow64-ready

die() { echo "wow64: $*" >&2; exit 1; }

# Wine's WoW64 mode switches a 64-bit process to the 32-bit user code segment. Some kernels (a
# hypervisor that runs 64-bit user code only, or IA-32 emulation switched off) have no such segment:
# then no 32-bit program can run under any wine here. scripts/cs32-probe.c tries the switch.
supported() {
  local dir here
  here=$(cd "$(dirname "$0")" && pwd)
  command -v gcc >/dev/null || { echo "wow64: gcc is missing: cannot probe for 32-bit code (scripts/setup.sh installs it)" >&2; return 3; }
  [ "$(uname -m)" = x86_64 ] || { echo "wow64: not an x86-64 machine: the 32-bit kit cannot run here" >&2; return 3; }
  dir=$(mktemp -d)
  if ! gcc -O1 -no-pie -o "$dir/cs32-probe" "$here/cs32-probe.c" 2>"$dir/log"; then
    echo "wow64: the probe for 32-bit code does not build: $(head -3 "$dir/log")" >&2
    rm -rf "$dir"
    return 3
  fi
  local answer
  answer=$("$dir/cs32-probe" 2>/dev/null) || true
  rm -rf "$dir"
  if [ "$answer" != yes ]; then
    echo "wow64: this machine cannot run 32-bit code in a 64-bit process (the switch to the 32-bit code segment faults: kernel $(uname -r)); wine's WoW64 mode, and so the 32-bit kit, cannot run here" >&2
    return 3
  fi
}

ready() { [ -f "$marker" ] && [ "$(cat "$marker")" = "$recipe" ]; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"
  elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then sudo "$@"
  else die "building the 32-bit kit's environment needs root (run scripts/setup.sh as root or with sudo)"
  fi
}

# Runs a command inside the tree with proc and dev mounted, for the setup steps.
in_tree() {
  as_root unshare -m --propagation private /bin/sh -c '
    set -e
    root=$1; shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
      DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"' sh "$root" "$@"
}

setup() {
  if ready; then
    echo "wow64: the 32-bit kit's environment is ready in $root (nothing to do)"
    return 0
  fi
  if ! supported && [ "${KIT_WOW64_FORCE:-0}" != 1 ]; then
    echo "wow64: the 32-bit kit's environment is not built on this machine (KIT_WOW64_FORCE=1 builds it anyway)"
    return 0
  fi
  command -v debootstrap >/dev/null || die "debootstrap is missing (scripts/setup.sh installs it: apt-get install debootstrap)"
  command -v unshare >/dev/null || die "unshare is missing (util-linux)"
  local parent
  parent=$(dirname "$root")
  as_root mkdir -p "$parent"
  # The tree takes about 1.7 GB, apt's downloads some more while it is made.
  local free_kb
  free_kb=$(df -Pk "$parent" | awk 'NR == 2 { print $4 }')
  if [ "${free_kb:-0}" -lt $((3 * 1024 * 1024)) ]; then
    die "not enough space in $parent: $((free_kb / 1024)) MB free, 3 GB needed (set KIT_WOW64_ROOT to a folder with room)"
  fi
  local started=$SECONDS
  echo "wow64: building the 32-bit kit's environment in $root (Debian $suite, wine 10; a few minutes)"
  # A tree left half-made by an interrupted run is started again from nothing.
  as_root rm -rf "$root"
  as_root debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$parent/wow64-debootstrap.log" 2>&1 ||
    die "debootstrap failed (log: $parent/wow64-debootstrap.log)"
  in_tree apt-get update -q >/dev/null
  in_tree apt-get install -y -q --no-install-recommends wine64 \
    >"$parent/wow64-apt.log" 2>&1 || die "installing wine in the tree failed (log: $parent/wow64-apt.log)"
  # The amd64 package leaves the i386 PE half of wine empty; the i386 package's copy is unpacked
  # into it (not installed: nothing 32-bit on the Linux side is needed or run).
  in_tree dpkg --add-architecture i386
  in_tree apt-get update -q >/dev/null
  local version
  version=$(in_tree dpkg-query -W -f='${Version}' libwine)
  in_tree /bin/sh -c "set -e; rm -rf /var/tmp/libwine-i386; mkdir -p /var/tmp/libwine-i386; cd /var/tmp/libwine-i386
    apt-get download -q -o APT::Sandbox::User=root 'libwine:i386=$version' >/dev/null
    dpkg -x libwine_*_i386.deb x
    cp -a x/usr/lib/i386-linux-gnu/wine/i386-windows/. /usr/lib/x86_64-linux-gnu/wine/i386-windows/
    cd / && rm -rf /var/tmp/libwine-i386 && apt-get clean" ||
    die "unpacking the i386 half of wine $version failed"
  local count
  count=$(find "$root/usr/lib/x86_64-linux-gnu/wine/i386-windows" -type f | wc -l)
  [ "$count" -gt 100 ] || die "the i386 half of wine holds only $count files"
  echo "$recipe" | as_root tee "$marker" >/dev/null
  echo "wow64: ready in $root: wine $version with $count i386 files, $((SECONDS - started)) s"
}

check() {
  ready || die "the 32-bit kit's environment is not built in $root: run scripts/setup.sh (or scripts/wow64.sh setup)"
}

# run PROG ARGS: shows the tree the folders a run needs at their own paths (the repository, or the
# folders named in KIT_WOW64_BIND, colon-separated), the host's /tmp (benches, X sockets, xvfb-run's
# authority file), /dev and /proc, then runs PROG in the current folder with the caller's environment.
run() {
  check
  [ "$(id -u)" -eq 0 ] || die "running the 32-bit kit needs root (its mounts are made in a namespace of their own)"
  [ $# -ge 1 ] || die "run: name a program"
  local binds=${KIT_WOW64_BIND:-$(cd "$(dirname "$0")/.." && pwd)}
  # Wine 10 asks for a run-time folder (its Wayland driver says "XDG_RUNTIME_DIR is invalid" on
  # stderr without one); the host's is not in the tree.
  mkdir -p -m 700 "$root/run/camkit-xdg"
  export XDG_RUNTIME_DIR=/run/camkit-xdg
  exec unshare -m --propagation private /bin/sh -c '
    set -e
    root=$1 binds=$2; shift 2
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --rbind /tmp "$root/tmp"
    IFS=:
    for dir in $binds; do
      [ -d "$dir" ] || continue
      mkdir -p "$root$dir"
      mount --rbind "$dir" "$root$dir"
    done
    cwd=$(pwd)
    exec chroot "$root" /bin/sh -c "cd \"\$0\" && exec \"\$@\"" "$cwd" "$@"' sh "$root" "$binds" "$@"
}

case "${1:-}" in
  setup) setup ;;
  supported) supported || exit 3 ;;
  root) echo "$root" ;;
  check) check ;;
  run) shift; run "$@" ;;
  *) die "usage: scripts/wow64.sh setup|supported|root|check|run PROG [ARGS...]" ;;
esac
