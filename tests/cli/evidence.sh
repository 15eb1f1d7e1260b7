#!/usr/bin/env bash
# Every finding says why it was found, in words a user can check: the
# leftovers of a removed program and the planted speed-up and clean-up
# problems of the sandbox are scanned in a prefix of their own, and each
# scanner's finding must name what was looked for and where.
#   evidence.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
export TOVU_SANDBOX=evidence64 TOVU_PREFIX=evidence64
"$top/tools/plant-sandbox.sh" "$build" --fresh
out=$build/evidence-scan.json
rc=0; "$top/tools/wine-run.sh" 64 "$build" "$build/TovuCmd.exe" scan --json > "$out" || rc=$?
[ "$rc" -eq 1 ] || { echo "FAILED: scan exits $rc, not 1" >&2; exit 1; }
python3 - "$out" <<'PY'
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
groups = {g["id"]: g for c in d["categories"] for g in c["groups"]}
vendor = "C:\\Program Files\\Sandbox Vendor\\"
# group -> a piece the reason of its first finding must hold
expected = {
    "reg-clsid": "InprocServer32 file " + vendor + "viewer.dll not found (32-bit view)",
    "reg-interface": "type library {B438433F-E854-4514-B96D-3A731B2BEF73} not registered",
    "reg-typelib": "win32 server file " + vendor + "viewer.tlb not found",
    "reg-uninstall": "uninstaller file " + vendor + "uninstall.exe not found",
    "reg-shared-dll": "shared file " + vendor + "common.dll not found",
    "reg-muicache": "resource file " + vendor + "viewer.exe not found",
    "reg-startup": "startup program file " + vendor + "agent.exe not found",
    "reg-app-paths": "application file " + vendor + "viewer.exe not found",
    "reg-missing-files": "file " + vendor + "samples\\welcome.svw not found",
    "win-boost": "value SmoothScroll of HKCU\\Control Panel\\Desktop differs: 1, wanted 0",
    "int-boost": "differs: 2, wanted 10",
    "delay-startup": "starts with Windows: Run value Skype of HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "temp-files": "bytes match C:\\windows\\Temp\\",
    "memory-dumps": "match C:\\windows\\minidump\\*.dmp",
}
failures = []
for gid, piece in expected.items():
    items = [i for i in groups.get(gid, {}).get("items", []) if not i["detail"]]
    if not items:
        failures.append(f"{gid}: no finding")
        continue
    if not any(piece in i["why"] for i in items):
        failures.append(f"{gid}: no reason holds {piece!r}: {[i['why'] for i in items]}")
for gid, g in groups.items():
    for i in g["items"]:
        if not i["detail"] and not i["why"]:
            failures.append(f"{gid}: {i['caption']!r} gives no reason")
if failures:
    print("FAILED:\n  " + "\n  ".join(failures), file=sys.stderr)
    sys.exit(1)
print(f"evidence: {len(expected)} scanners give their reasons")
PY
