#!/usr/bin/env bash
# Builds and leaves in BUILD_DIR/release/ what is handed out for one version:
#   TovuSetup-<version>.exe   the installer, for new users
#   TovuUpdate-<version>.cab  both programs, for the self-update of installed ones
#   SHA256SUMS                the checksums of both, as sha256sum writes them
#   update/                   the folder the service answers update checks
#                             from (--release): version.txt and the cabinet
#   tools/release.sh [BUILD_DIR]            (default: build)
#   tools/release.sh --no-build BUILD_DIR   package what is built already
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --no-build ]; then
  build=$2
else
  build=${1:-$top/build}
  "$top/tools/build.sh" "$build"
fi
build=$(cd "$build" && pwd)
version=$(sed -n 's/^#define TOVU_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/tovu_version.h")
[ -n "$version" ] || { echo "release: no version in $build/generated/tovu_version.h" >&2; exit 2; }
setup=TovuSetup-$version.exe
cab=TovuUpdate-$version.cab
[ -f "$build/$setup" ] || { echo "release: the build made no $setup" >&2; exit 2; }

out=$build/release
rm -rf "$out"; mkdir -p "$out/update"
cp "$build/$setup" "$out/$setup"
# The updater extracts every entry into the update folder and moves it into
# the program folder by its name alone: no folders inside the cabinet.
(cd "$build" && gcab -c -n -z "$out/$cab" Tovu.exe TovuTray.exe)
(cd "$out" && sha256sum "$setup" "$cab" > SHA256SUMS)
cp "$out/$cab" "$out/update/$cab"
printf '%s\n' "$version" > "$out/update/version.txt"
echo "release $version in $out:"
(cd "$out" && cat SHA256SUMS)
