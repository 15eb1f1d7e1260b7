#!/usr/bin/env bash
# Installs the cross toolchain, Wine and the test tools from Debian's packages.
# Skips everything that is already there, so a second run costs a few seconds.
# tools/ensure-i386.sh adds the emulator where the machine needs one.
set -euo pipefail

packages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev mingw-w64-tools
          wine wine32:i386 wine64 xvfb xauth cmake ninja-build googletest
          libz-mingw-w64-dev gcab python3)

missing=()
for p in "${packages[@]}"; do
    # dpkg-query wants the architecture qualifier only for foreign packages
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

here=$(cd "$(dirname "$0")" && pwd)
if [ ${#missing[@]} -eq 0 ]; then
    "$here/ensure-i386.sh"
    exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
"$here/ensure-i386.sh"
