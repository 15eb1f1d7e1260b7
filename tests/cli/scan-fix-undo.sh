#!/usr/bin/env bash
# The console front-end end to end in a prefix of its own, as a user meets it:
# planted speed-up settings and a startup program that a definition knows are
# found and fixed (the settings with a backup document, the program taken out
# of the normal start); the postponed program is started by the runner the
# tray program uses; restoring the backup and the postponed programs brings
# everything back as it was. Registry contents are read with the system's own
# registry editor: the scanner no longer reports entries it has cleaned
# recently, whatever their value, so a scan cannot show the undo.
#   scan-fix-undo.sh 64|32 BUILD_DIR
set -euo pipefail
arch=$1; build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export TOVU_PREFIX=cli$arch
prefix=$build/$TOVU_PREFIX
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
rm -rf "${prefix:?}"
work=$build/cli-e2e-$arch
rm -rf "$work"; mkdir -p "$work"

cmd() { "$top/tools/wine-run.sh" "$arch" "$build" "$build/TovuCmd.exe" "$@"; }
win() { "$top/tools/wine-run.sh" "$arch" "$build" "$@"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

# The 32-bit program sees the 32-bit program folder, whatever the system.
if [ "$arch" = 64 ]; then pfiles='Program Files (x86)'; else pfiles='Program Files'; fi
run_value="\"C:\\$pfiles\\Skype\\Phone\\Skype.exe\" /nosplash \"a&b\""
# The value as a registry file writes it; the editor's export writes it so too.
run_value_reg="\"$(printf '%s' "$run_value" | sed 's/\\/\\\\/g; s/"/\\"/g')\""
{
  cat "$here/boost.reg"
  printf '\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n'
  printf '"Skype"=%s\n' "$run_value_reg"
  # The tray program is installed (its autostart value, machine-wide in the
  # 32-bit view): without it nothing would start a postponed program again.
  if [ "$arch" = 64 ]; then wow='\Wow6432Node'; else wow=''; fi
  printf '\n[HKEY_LOCAL_MACHINE\\Software%s\\Microsoft\\Windows\\CurrentVersion\\Run]\n' "$wow"
  printf '"Tovu"="\\"T:\\\\TovuTray.exe\\" /startup"\n'
} > "$build/cli-plant-$arch.reg"
win regedit /S "T:\\cli-plant-$arch.reg"
mkdir -p "$prefix/drive_c/$pfiles/Skype/Phone"
cp "$build/tests/StartProbe.exe" "$prefix/drive_c/$pfiles/Skype/Phone/Skype.exe"

# export_current_version NAME -> $work/NAME.txt: the user's CurrentVersion key
# as the registry editor exports it, in UTF-8.
export_current_version() {
  win regedit /E "T:\\cli-e2e-$arch\\$1.reg" 'HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion'
  iconv -f UTF-16 -t UTF-8 "$work/$1.reg" | tr -d '\r' > "$work/$1.txt"
}
# value_in EXPORT KEY NAME -> the value's data as exported, or nothing
value_in() {
  awk -v key="[HKEY_CURRENT_USER\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\$2]" -v name="\"$3\"" '
    /^\[/ { inkey = ($0 == key) }
    inkey && index($0, name "=") == 1 { print substr($0, length(name) + 2) }' "$work/$1.txt"
}

groups=(--group int-boost --group delay-startup)
rc=0; cmd scan --group win-boost "${groups[@]}" --json > "$work/scan.json" || rc=$?
[ "$rc" -eq 1 ] || fail "scan of planted problems exits $rc, not 1"
python3 - "$work/scan.json" <<'PY' || fail "scan"
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
groups = {g["id"]: g for c in d["categories"] for g in c["groups"]}
assert set(groups) == {"win-boost", "int-boost", "delay-startup"}, groups.keys()
win = [i["caption"] for i in groups["win-boost"]["items"]]
net = [i["caption"] for i in groups["int-boost"]["items"]]
assert "Disable smooth windows scrolling" in win, win
assert "Tweak the maximum HTTP connection settings" in net, net
assert "Tweak the maximum HTTP connection settings per 1 server" in net, net
assert groups["int-boost"]["found"] == len(net), groups["int-boost"]
assert groups["delay-startup"]["found"] == 1, groups["delay-startup"]
PY

cmd fix "${groups[@]}" --yes > "$work/fix.txt" || fail "fix exits $?"
tr -d '\r' < "$work/fix.txt" > "$work/fix.out"
grep -q "^Done\.$" "$work/fix.out" || fail "fix did not finish: $(cat "$work/fix.out")"
grep -q "Tweak the maximum HTTP connection settings per 1 server" "$work/fix.out" || fail "fix found no HTTP setting"
grep -q "^  delay-startup *1 " "$work/fix.out" || fail "fix did not find the startup program: $(cat "$work/fix.out")"
before=$(awk '$1=="int-boost"{print $2}' "$work/fix.out")

export_current_version after-fix
[ "$(value_in after-fix 'Internet Settings' MaxConnectionsPerServer)" = "dword:0000000a" ] ||
  fail "the fix did not write the wanted value"
[ -z "$(value_in after-fix Run Skype)" ] || fail "the startup program's Run value is still there"
cmd startup list > "$work/list.txt" || fail "startup list exits $?"
grep -q "run *1 *Skype | Skype = " "$work/list.txt" || fail "not listed as postponed: $(cat "$work/list.txt")"

# The runner starts the program and goes on without waiting for it.
started="$prefix/drive_c/$pfiles/Skype/Phone/started.txt"
cmd startup run > "$work/run.txt" || fail "startup run exits $?"
for _ in $(seq 1 300); do [ -s "$started" ] && break; sleep 1; done
[ -s "$started" ] || fail "the postponed program was not started"
grep -qF '/nosplash "a&b"' "$started" || fail "started without its arguments: $(cat "$started")"
# The program itself saw no Run value of its own any more.
grep -q '^run:' "$started" || fail "the started program did not record the Run key"
if grep '^run:' "$started" | grep -q '[:|]Skype|'; then fail "the Run value was still there when the runner started it"; fi

backup=$(find "$prefix/drive_c" -path '*/Tovu/Backup/boost_*.xml' -printf '%f\n' | sort | tail -n 1)
[ -n "$backup" ] || fail "no boost backup written"
cmd backups list > "$work/backups.txt" || fail "backups list exits $?"
[ "$(awk '$1=="boost"{print $NF; exit}' "$work/backups.txt" | tr -d '\r')" = "$backup" ] ||
  fail "backups list does not show $backup first: $(cat "$work/backups.txt")"
cmd backups restore "$backup" --yes > "$work/restore.txt" || fail "restore exits $?"
grep -q "^$before entries restored" "$work/restore.txt" || fail "restore: $(cat "$work/restore.txt"), expected $before entries"
cmd startup restore > "$work/startup-restore.txt" || fail "startup restore exits $?"

export_current_version after-restore
[ "$(value_in after-restore 'Internet Settings' MaxConnectionsPerServer)" = "dword:00000002" ] ||
  fail "the restore did not bring the planted value back"
[ "$(value_in after-restore Run Skype)" = "$run_value_reg" ] ||
  fail "Run value after restore: $(value_in after-restore Run Skype), expected $run_value_reg"
echo "scan, fix and undo ($arch-bit prefix): $before settings and one startup program found, fixed, started and restored"
