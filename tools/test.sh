#!/usr/bin/env bash
# Builds and runs every test program under Wine, in the 64-bit and the 32-bit
# prefix. Ends with ctest's summary line; non-zero exit on any failure.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh" "$top/build"
cd "$top/build"
ctest --output-on-failure -j2 "$@"
