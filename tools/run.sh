#!/usr/bin/env bash
# Sets up the machine, builds, plants problems in a sandbox Wine prefix and
# runs the console front-end there. Without arguments it scans; any arguments
# are passed to TovuCmd.exe (fix --yes, backups list, tree --lang cs, ...).
#   tools/run.sh [TovuCmd arguments...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh" "$top/build" >/dev/null
"$top/tools/plant-sandbox.sh" "$top/build"
[ $# -gt 0 ] || set -- scan
TOVU_PREFIX=sandbox64 exec "$top/tools/wine-run.sh" 64 "$top/build" "$top/build/TovuCmd.exe" "$@"
