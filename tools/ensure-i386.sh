#!/usr/bin/env bash
# Makes sure 32-bit Linux programs (the 32-bit half of Wine) can run. Some
# virtual machines lack the 32-bit mode of the processor; there the kernel is
# told to run such programs through qemu's user-mode emulation instead.
set -euo pipefail
[ -x /lib/ld-linux.so.2 ] || exit 0   # no 32-bit userland installed yet
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then exit 0; fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
qemu=/usr/bin/qemu-i386-static
[ -x $qemu ] || { echo "ensure-i386: $qemu missing (run tools/setup.sh)" >&2; exit 1; }
bm=/proc/sys/fs/binfmt_misc
[ -f $bm/register ] || $SUDO mount -t binfmt_misc binfmt_misc $bm
if [ ! -f $bm/qemu-i386 ]; then
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    | $SUDO tee $bm/register >/dev/null || true
fi
/lib/ld-linux.so.2 --version >/dev/null 2>&1 || { echo "ensure-i386: cannot run 32-bit programs" >&2; exit 1; }
