#!/usr/bin/env bash
# Sets up the machine (first run only) and builds everything into BUILD_DIR.
#   tools/build.sh [BUILD_DIR]     (default: build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
"$top/tools/setup.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
ninja -C "$build"
