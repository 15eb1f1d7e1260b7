#!/usr/bin/env bash
# The user's walk through Tovu.exe in a fresh prefix of its own with the
# sandbox's planted problems: 64-bit, or 32-bit shown as Windows XP.
#   walk.sh 64|32 BUILD_DIR
set -euo pipefail
arch=$1; build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export TOVU_PREFIX=ui-walk$arch
prefix=$build/$TOVU_PREFIX
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
rm -rf "${prefix:?}"
cp "$top/tools/sandbox.reg" "$build/ui-walk.reg"
# The first program of a new prefix can run before the prefix is ready for
# it; the import is checked and repeated.
for _ in 1 2 3; do
  "$top/tools/wine-run.sh" "$arch" "$build" regedit /S 'T:\ui-walk.reg'
  if "$top/tools/wine-run.sh" "$arch" "$build" reg query \
       'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\SandboxViewer' >/dev/null 2>&1; then
    planted=1; break
  fi
done
[ -n "${planted:-}" ] || { echo "walk: the planted problems could not be imported" >&2; exit 1; }
driver=$build/tests/test_ui_program.exe
if [ "$arch" = 32 ]; then
  # Both programs are shown Windows XP; Wine keeps the version per program name.
  for exe in Tovu.exe test_ui_program.exe; do
    "$top/tools/wine-run.sh" 32 "$build" reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /d winxp /f >/dev/null
  done
fi
export TOVU_UI_WALK=1 TOVU_SHOT_SET=walk.win$arch
"$here/../ui/run-ui.sh" "$arch" "$build" "$driver" --gtest_filter='Program.Walk*'
