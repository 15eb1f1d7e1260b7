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
# A display of its own: the shared one shows other programs' windows too,
# which would cover what a screenshot is meant to show.
xvfb_pid=
if [ -z "${TOVU_UI_SHARED_DISPLAY:-}" ]; then
  for n in $(seq 140 199); do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
    xvfb_pid=$!
    for _ in $(seq 1 50); do [ -S /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
    if kill -0 "$xvfb_pid" 2>/dev/null && [ -S /tmp/.X11-unix/X$n ]; then export DISPLAY=:$n; break; fi
    xvfb_pid=
  done
fi
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null' EXIT
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
