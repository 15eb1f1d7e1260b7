#!/usr/bin/env bash
# Builds and runs the console front-end under Wine in the 64-bit prefix.
#   tools/run.sh [TovuCmd arguments...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh" "$top/build" >/dev/null
exec "$top/tools/wine-run.sh" 64 "$top/build" "$top/build/TovuCmd.exe" "$@"
