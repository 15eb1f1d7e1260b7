#!/usr/bin/env bash
# Makes sure 32-bit Linux programs (the 32-bit half of Wine) can run. Some
# virtual machines lack the 32-bit mode of the processor; there the kernel is
# told to run such programs through qemu's user-mode emulation instead.
#
# The emulator must be qemu 9.1 or later: under 7.2 (Debian 12's own) every
# Windows process took about a minute to start, ten times as long as under
# 10.0, and a process that had run a second thread sometimes died or hung at
# a later structured exception. Where the release's qemu is older, it comes
# from the release's backports.
set -euo pipefail
[ -x /lib/ld-linux.so.2 ] || exit 0   # no 32-bit userland installed yet

bm=/proc/sys/fs/binfmt_misc
registered() { sed -n 's/^interpreter //p' $bm/qemu-i386 2>/dev/null || true; }
qemu=/usr/bin/qemu-i386
min_version=1:9.1

# Native 32-bit mode: nothing to do.
if [ -z "$(registered)" ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; then exit 0; fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

qemu_current() {
  local v
  v=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null) || return 1
  [ -x $qemu ] && dpkg --compare-versions "$v" ge "$min_version"
}
installed=0
if ! qemu_current; then
  installed=1
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  from=()
  if [ "$codename" = bookworm ]; then
    list=/etc/apt/sources.list.d/tovu-backports.sources
    if [ ! -f $list ]; then
      printf '%s\n' "Types: deb" "URIs: http://deb.debian.org/debian" \
        "Suites: bookworm-backports" "Components: main" \
        "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" | $SUDO tee $list >/dev/null
    fi
    from=(-t bookworm-backports)
  fi
  echo "ensure-i386: installing qemu-user ${from[*]}" >&2
  $SUDO apt-get update -qq
  # qemu-user replaces the older qemu-user-static, whose binaries it now holds.
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${from[@]}" qemu-user >&2
  qemu_current || { echo "ensure-i386: qemu-user $min_version or later could not be installed" >&2; exit 1; }
fi

[ -f $bm/register ] || $SUDO mount -t binfmt_misc binfmt_misc $bm
# The F flag opens the interpreter once, at registration: the registration of
# another emulator, or of the one just replaced, is made again.
if [ -n "$(registered)" ] && { [ "$(registered)" != $qemu ] || [ $installed -eq 1 ]; }; then
  echo -1 | $SUDO tee $bm/qemu-i386 >/dev/null
fi
if [ ! -f $bm/qemu-i386 ]; then
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    | $SUDO tee $bm/register >/dev/null || true
fi
/lib/ld-linux.so.2 --version >/dev/null 2>&1 || { echo "ensure-i386: cannot run 32-bit programs" >&2; exit 1; }
