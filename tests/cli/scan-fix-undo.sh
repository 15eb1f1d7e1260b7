#!/usr/bin/env bash
# The console front-end end to end in a prefix of its own: planted speed-up
# settings are found (JSON), fixed with a backup document, and the restore of
# that document brings them back. The values themselves are read with the
# system's own registry tool: the scanner no longer reports entries it has
# cleaned recently, whatever their value, so a scan cannot show the undo.
#   scan-fix-undo.sh 64|32 BUILD_DIR
set -euo pipefail
arch=$1; build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export TOVU_PREFIX=cli$arch
WINEPREFIX=$build/$TOVU_PREFIX wineserver -k 2>/dev/null || true
rm -rf "${build:?}/$TOVU_PREFIX"
work=$build/cli-e2e-$arch
rm -rf "$work"; mkdir -p "$work"
cp "$here/boost.reg" "$build/cli-boost.reg"

cmd() { "$top/tools/wine-run.sh" "$arch" "$build" "$build/TovuCmd.exe" "$@"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

"$top/tools/wine-run.sh" "$arch" "$build" regedit /S 'T:\cli-boost.reg'

rc=0; cmd scan --group win-boost --group int-boost --json > "$work/scan1.json" || rc=$?
[ "$rc" -eq 1 ] || fail "scan of planted problems exits $rc, not 1"
python3 - "$work/scan1.json" <<'PY' || fail "first scan"
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
groups = {g["id"]: g for c in d["categories"] for g in c["groups"]}
assert set(groups) == {"win-boost", "int-boost"}, groups.keys()
win = [i["caption"] for i in groups["win-boost"]["items"]]
net = [i["caption"] for i in groups["int-boost"]["items"]]
assert "Disable smooth windows scrolling" in win, win
assert "Tweak the maximum HTTP connection settings" in net, net
assert "Tweak the maximum HTTP connection settings per 1 server" in net, net
assert groups["int-boost"]["found"] == len(net), groups["int-boost"]
PY
before=$(python3 -c 'import json,sys
d=json.load(open(sys.argv[1], encoding="utf-8"))
print(sum(g["found"] for c in d["categories"] for g in c["groups"] if g["id"]=="int-boost"))' "$work/scan1.json")

cmd fix --group int-boost --yes > "$work/fix.txt" || fail "fix exits $?"
grep -q "Done." "$work/fix.txt" || fail "fix did not finish: $(cat "$work/fix.txt")"

# internet_setting NAME -> the value as "reg query" shows it (0x...)
internet_setting() {
  "$top/tools/wine-run.sh" "$arch" "$build" reg query \
    'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' /v "$1" |
    tr -d '\r' | awk -v n="$1" '$1==n{print $3}'
}
[ "$(internet_setting MaxConnectionsPerServer)" = "0xa" ] || fail "the fix did not write the wanted value"

cmd backups list > "$work/list.txt" || fail "backups list exits $?"
file=$(awk '$1=="boost"{print $NF; exit}' "$work/list.txt" | tr -d '\r')
[ -n "$file" ] || fail "no boost backup listed: $(cat "$work/list.txt")"

cmd backups restore "$file" --yes > "$work/restore.txt" || fail "restore exits $?"
grep -q "^$before entries restored" "$work/restore.txt" || fail "restore: $(cat "$work/restore.txt"), expected $before entries"

[ "$(internet_setting MaxConnectionsPerServer)" = "0x2" ] || fail "the restore did not bring the planted value back"
echo "scan, fix and undo: $before settings found, fixed and restored"
