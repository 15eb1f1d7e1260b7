#!/usr/bin/env bash
# Tovu.exe /INSTALL and /UNINSTALL in a fresh prefix against the service
# (started by run-online.sh, which calls this): one report each with the
# decoded installation identifier; with the service silent or gone, both roles
# still end within their 15 s.
#   run-online.sh 64 BUILD_DIR install-report.sh 64 BUILD_DIR
set -euo pipefail
arch=$1; build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../tools/wine-run.sh"
export TOVU_PREFIX=wine$arch-install
rm -rf "${build:?}/$TOVU_PREFIX"
py=/usr/bin/python3; [ -x "$py" ] || py=python3
fail() { echo "FAIL: $*" >&2; exit 1; }
finish() { WINEPREFIX=$build/$TOVU_PREFIX timeout 60 wineserver -k 2>/dev/null || true; }
trap finish EXIT

set_report_url() {
  "$run" "$arch" "$build" reg add 'HKLM\Software\Tovu' /reg:32 /v LI_URL /d "$1" /f >/dev/null
}
reports() {  # reports ACTION: the UIDs the service stored for ACTION, one a line
  "$py" - "$TOVU_SERVICE_DB" "$1" <<'PY'
import sqlite3, sys
for (uid,) in sqlite3.connect(sys.argv[1]).execute("SELECT uid FROM reports WHERE action=? ORDER BY id", (sys.argv[2],)):
    print(uid)
PY
}
timed() {  # timed LIMIT_S ARGS...: runs Tovu.exe ARGS, fails beyond LIMIT_S seconds
  local limit=$1; shift
  local start=$SECONDS
  "$run" "$arch" "$build" Tovu.exe "$@" || fail "Tovu.exe $* ended with $?"
  local took=$((SECONDS - start))
  echo "Tovu.exe $*: $took s"
  [ "$took" -le "$limit" ] || fail "Tovu.exe $* took $took s"
}

set_report_url "$TOVU_SERVICE_URL/client.asmx/GetXML?action=%ACTION%&cr=%CU%"
timed 60 /INSTALL
uid=$("$run" "$arch" "$build" reg query 'HKLM\Software\Tovu' /reg:32 /v UID | tr -d '\r' | awk '$1 == "UID" {print $3}')
[ -n "$uid" ] || fail "no installation identifier after /INSTALL"
[ "$(reports INTOVU)" = "$uid" ] || fail "install reports: '$(reports INTOVU)', wanted '$uid'"
echo "install report recorded with UID $uid"

timed 60 /UNINSTALL
[ "$(reports UNTOVU)" = "$uid" ] || fail "uninstall reports: '$(reports UNTOVU)', wanted '$uid'"
echo "uninstall report recorded with UID $uid"

# A server that accepts and never answers, then a port nobody listens on.
# Process start under Wine costs some seconds of its own beyond the 15 s.
for url in "$TOVU_STANDIN_URL/silent?action=%ACTION%&cr=%CU%" "http://127.0.0.1:1/client.asmx/GetXML?action=%ACTION%&cr=%CU%"; do
  set_report_url "$url"
  timed 25 /INSTALL
  set_report_url "$url"
  timed 30 /UNINSTALL
done
[ "$(reports INTOVU | wc -l)" = 1 ] && [ "$(reports UNTOVU | wc -l)" = 1 ] || fail "extra reports stored"
echo "PASS"
