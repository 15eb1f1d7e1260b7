#!/usr/bin/env bash
# Runs a UI test program under Wine and takes the screenshots it asks for:
# the program writes NAME.req into the screenshot folder, this script runs
# ImageMagick's import on the virtual display and answers with NAME.done.
#   run-ui.sh 64|32 BUILD_DIR PROGRAM [ARGS...]
set -uo pipefail
arch=$1; build=$(cd "$2" && pwd); prog=$3; shift 3
here=$(cd "$(dirname "$0")" && pwd)
shots=$build/screenshots/${TOVU_SHOT_SET:-$(basename "$prog" .exe).win$arch${LC_ALL:+.${LC_ALL%%_*}}}
mkdir -p "$shots"
rm -f "$shots"/*.req "$shots"/*.done
export TOVU_SNAP_DIR="T:\\${shots#"$build"/}"
TOVU_SNAP_DIR=${TOVU_SNAP_DIR//\//\\}
display=${DISPLAY:-:97}

"$here/../../tools/wine-run.sh" "$arch" "$build" "$prog" "$@" &
pid=$!
while kill -0 "$pid" 2>/dev/null; do
  for req in "$shots"/*.req; do
    [ -e "$req" ] || continue
    name=$(basename "$req" .req)
    DISPLAY=$display timeout 20 import -window root "$shots/$name.png" 2>/dev/null || true
    rm -f "$req"
    : > "$shots/$name.done"
  done
  sleep 0.2
done
wait "$pid"
