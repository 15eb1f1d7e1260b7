#!/usr/bin/env bash
# Installs the cross toolchain, Wine and the test tools from Debian's packages.
# Skips everything that is already there, so a second run costs a few seconds.
# tools/ensure-i386.sh adds the emulator where the machine needs one.
set -euo pipefail

packages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev mingw-w64-tools
          wine wine32:i386 wine64 xvfb xauth cmake ninja-build googletest
          libz-mingw-w64-dev gcab python3 locales
          librsvg2-bin imagemagick libstb-dev nsis python3-pytest gunicorn openssl
          fonts-ipafont-gothic fonts-dejavu-core)

missing=()
for p in "${packages[@]}"; do
    # dpkg-query wants the architecture qualifier only for foreign packages
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

here=$(cd "$(dirname "$0")" && pwd)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# Wine names files on the host in the host's character set: a test under the
# Japanese code page needs the Japanese locale generated on the host.
ensure_locale() {
    locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && return 0
    $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >&2
}

# The programs' built-in service and web addresses name hosts that are not
# ours to reach from a test machine: the roles send their reports there
# unless a test points them elsewhere. Resolving those names to the loopback
# address keeps every such request on this machine, where nothing answers.
ensure_hosts() {
    local names="service.tovu.example.org www.tovu.example.org"
    grep -q 'service\.tovu\.example\.org' /etc/hosts 2>/dev/null && return 0
    echo "127.0.0.1 $names" | $SUDO tee -a /etc/hosts >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
    ensure_hosts
    ensure_locale
    "$here/ensure-i386.sh"
    exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
ensure_hosts
ensure_locale
"$here/ensure-i386.sh"
