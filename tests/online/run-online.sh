#!/usr/bin/env bash
# Runs a program of the build under Wine with our service and the misbehaving
# stand-in servers listening on 127.0.0.1; both end with the run.
#   run-online.sh 64|32 BUILD_DIR PROGRAM [ARGS...]
# The program finds them through TOVU_SERVICE_URL and TOVU_STANDIN_URL. The
# service's database and release folder live in BUILD_DIR/online-<arch>/, so
# a test may look at what the service stored (drive T: is the build folder).
set -euo pipefail
arch=$1; build=$(cd "$2" && pwd); shift 2
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
work=$build/online-$arch
rm -rf "$work"; mkdir -p "$work/release"
echo "1.0.0.2" > "$work/release/version.txt"
head -c 70000 /dev/urandom > "$work/release/update.cab"
echo "release notes" > "$work/release/notes.txt"

# Debian's interpreter, as the service's deployment uses it.
py=/usr/bin/python3; [ -x "$py" ] || py=python3
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

start() {  # start NAME CMD...: runs CMD, waits for the port it prints
  local name=$1; shift
  (cd "$src" && exec "$@") > "$work/$name.port" 2> "$work/$name.log" &
  pids+=($!)
  for _ in $(seq 1 100); do [ -s "$work/$name.port" ] && break; sleep 0.1; done
  [ -s "$work/$name.port" ] || { echo "run-online: $name did not start" >&2; cat "$work/$name.log" >&2; exit 3; }
}
start service "$py" -m service --host 127.0.0.1 --port 0 --db "$work/service.db" --release "$work/release"
start standin "$py" "$here/standin.py"
port=$(head -1 "$work/service.port"); standin=$(head -1 "$work/standin.port")
export TOVU_SERVICE_URL=http://127.0.0.1:$port TOVU_STANDIN_URL=http://127.0.0.1:$standin
export TOVU_SERVICE_DB=$work/service.db
"$@"
