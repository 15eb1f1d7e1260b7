#!/usr/bin/env bash
# Sets up the machine, builds, plants problems in a sandbox Wine prefix and
# runs the console front-end there. Without arguments it scans; any arguments
# are passed to TovuCmd.exe (fix --yes, backups list, tree --lang cs, ...).
#   tools/run.sh [TovuCmd arguments...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh" "$top/build" >/dev/null
"$top/tools/plant-sandbox.sh" "$top/build"
export TOVU_PREFIX=sandbox64
if [ $# -gt 0 ]; then exec "$top/tools/wine-run.sh" 64 "$top/build" "$top/build/TovuCmd.exe" "$@"; fi
# The default scan finds what was planted, which the console front-end reports
# with exit status 1 ("problems found"); for this demonstration that is success.
rc=0
"$top/tools/wine-run.sh" 64 "$top/build" "$top/build/TovuCmd.exe" scan || rc=$?
[ "$rc" -eq 1 ] && rc=0
exit "$rc"
