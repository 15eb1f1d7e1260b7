#!/usr/bin/env bash
# The update window on the virtual display in English, German and Japanese:
# runs its test with the picture hand-over on and saves one screenshot per
# language under BUILD_DIR/screens/.
#   window-screens.sh 64|32 BUILD_DIR
set -euo pipefail
arch=$1; build=$(cd "$2" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
sync=$build/screens/update-sync
rm -rf "$sync"; mkdir -p "$sync"
export TOVU_SCREENSHOT_SYNC='T:\screens\update-sync'
export LC_ALL=ja_JP.UTF-8
# The harness starts the display; the picture is taken from the same one.
export DISPLAY=${DISPLAY:-:97}
"$top/tools/wine-run.sh" "$arch" "$build" "$build/tests/test_update.exe" --gtest_filter='UpdateWindow.*' &
run=$!
for lang in en de ja; do
  for _ in $(seq 1 600); do [ -e "$sync/ready-$lang" ] && break; kill -0 $run 2>/dev/null || break; sleep 0.1; done
  [ -e "$sync/ready-$lang" ] || { echo "window-screens: no window for $lang" >&2; wait $run || true; exit 1; }
  import -window root "$build/screens/update-window-$lang.png"
  touch "$sync/taken-$lang"
done
wait $run
