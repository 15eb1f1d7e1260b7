#!/usr/bin/env bash
# Plants realistic problems in the sandbox prefix of tools/run.sh
# (BUILD/sandbox64): speed-up settings that differ from the wanted values,
# registry entries of a removed program, files to clean, and a startup
# program that can start later.
#   plant-sandbox.sh BUILD_DIR [--fresh]
# TOVU_SANDBOX names another prefix under BUILD_DIR (tests plant their own).
# Planting happens once; --fresh starts again from a new prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
name=${TOVU_SANDBOX:-sandbox64}
prefix=$build/$name
if [ "${2:-}" = "--fresh" ]; then
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
fi
[ -f "$prefix/.tovu-planted" ] && exit 0

cp "$here/sandbox.reg" "$build/sandbox.reg"
# The 64-bit registry editor writes the keys as named; the Wow6432Node keys
# are the 32-bit view.
TOVU_PREFIX=$name "$here/wine-run.sh" 64 "$build" regedit /S 'T:\sandbox.reg'

c=$prefix/drive_c
mkdir -p "$c/windows/temp/SandboxSetup" "$c/windows/minidump" "$c/found.000"
head -c 200000 /dev/zero > "$c/windows/temp/SandboxSetup/setup.tmp"
head -c 50000 /dev/zero > "$c/windows/temp/sandbox-update.log"
head -c 30000 /dev/zero > "$c/windows/sandbox-setup.log"
head -c 65536 /dev/zero > "$c/windows/minidump/Mini121026-01.dmp"
head -c 8192 /dev/zero > "$c/found.000/file0000.chk"
mkdir -p "$c/Program Files (x86)/Skype/Phone"
cp "$build/tests/StartProbe.exe" "$c/Program Files (x86)/Skype/Phone/Skype.exe"
touch "$prefix/.tovu-planted"
