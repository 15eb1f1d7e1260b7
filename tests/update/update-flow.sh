#!/usr/bin/env bash
# The update end to end against a stand-in service on 127.0.0.1: builds a
# release whose cabinet (made by gcab) holds both programs with a newer
# version resource, starts the service, and runs the flow tests with its
# address.
#   update-flow.sh 64|32 BUILD_DIR
set -euo pipefail
arch=$1; build=$(cd "$2" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/update-flow
rm -rf "$work"; mkdir -p "$work/programs" "$work/release"
python3 "$top/tools/bump-version-resource.py" "$build/TovuTray.exe" "$work/programs/TovuTray.exe" 1.0.0.2
python3 "$top/tools/bump-version-resource.py" "$build/Tovu.exe" "$work/programs/Tovu.exe" 1.0.0.2
(cd "$work/programs" && gcab -c -z "$work/release/tovu-1.0.0.2.cab" TovuTray.exe Tovu.exe)

coproc SERVICE { exec python3 "$top/tests/update/standin.py" "$work/release"; }
service_pid=$SERVICE_PID
trap 'exec {SERVICE[1]}>&-; wait $service_pid 2>/dev/null || true' EXIT
read -r -t 20 word port <&"${SERVICE[0]}" || { echo "update-flow: the service did not start" >&2; exit 1; }
[ "$word" = port ] || { echo "update-flow: unexpected service output: $word $port" >&2; exit 1; }

export TOVU_UPDATE_SERVICE="http://127.0.0.1:$port"
"$top/tools/wine-run.sh" "$arch" "$build" "$build/tests/test_update.exe" --gtest_filter='UpdateFlow.*'
