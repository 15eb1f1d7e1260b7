#!/usr/bin/env bash
# The release folder as it is handed out: the checksums hold, the update
# cabinet carries exactly the built programs without folders, and the service
# started on the update folder offers that cabinet to an older version (and
# nothing to the released one), serving the very bytes it names.
#   release.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd); version=$2
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
fail() { echo "FAILED: $*" >&2; exit 1; }

"$top/tools/release.sh" --no-build "$build" >/dev/null
out=$build/release
cab=TovuUpdate-$version.cab
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
[ "$(awk '{print $2}' "$out/SHA256SUMS" | sort | tr '\n' ' ')" = "TovuSetup-$version.exe $cab " ] ||
  fail "SHA256SUMS lists: $(cat "$out/SHA256SUMS")"
cmp -s "$build/TovuSetup-$version.exe" "$out/TovuSetup-$version.exe" || fail "the installer is not the built one"
[ "$(gcab -t "$out/$cab" | sort | tr '\n' ' ')" = "Tovu.exe TovuTray.exe " ] ||
  fail "the cabinet holds: $(gcab -t "$out/$cab")"
x=$(mktemp -d); svc=""
trap 'rm -rf "$x"; [ -z "$svc" ] || kill "$svc" 2>/dev/null || true' EXIT
gcab -x -C "$x" "$out/$cab" >/dev/null
for f in Tovu.exe TovuTray.exe; do cmp -s "$build/$f" "$x/$f" || fail "$f in the cabinet is not the built one"; done
[ "$(cat "$out/update/version.txt")" = "$version" ] || fail "update/version.txt: $(cat "$out/update/version.txt")"

(cd "$top" && exec python3 -m service --host 127.0.0.1 --port 0 --db "$x/service.db" --release "$out/update") > "$x/port" &
svc=$!
for _ in $(seq 1 50); do [ -s "$x/port" ] && break; sleep 0.1; done
port=$(head -1 "$x/port"); [ -n "$port" ] || fail "the service did not start"
python3 - "$port" "$version" "$out/$cab" <<'PY' || fail "update check"
import hashlib, sys, urllib.request, xml.etree.ElementTree as ET
port, version, cab = sys.argv[1], sys.argv[2], sys.argv[3]
base = "http://127.0.0.1:%s" % port
def check(ver):
    return ET.fromstring(urllib.request.urlopen(base + "/update.asmx/Check?ver=" + ver).read())
parts = [int(p) for p in version.split(".")]
older = ".".join(map(str, parts[:3] + [parts[3] - 1])) if parts[3] else "0.0.0.1"
answer = check(older)
assert answer.get("Status") == "OK", ET.tostring(answer)
vers = answer.findall("Vers/Ver")
assert [v.get("ENT") for v in vers] == [cab.rsplit("/", 1)[1]], ET.tostring(answer)
data = open(cab, "rb").read()
assert vers[0].get("SHA256") == hashlib.sha256(data).hexdigest()
assert urllib.request.urlopen(vers[0].get("URL")).read() == data
assert check(version).get("Status") == "NONE"
PY
echo "release $version: checksums, cabinet and the service's offer: OK"
