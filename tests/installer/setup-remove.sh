#!/usr/bin/env bash
# The installer as a user meets it, in a fresh prefix of its own: the silent
# install puts both programs into the 32-bit program folder, registers the
# entry of the installed programs and runs the program's own install role
# (autostart value, running tray program); a silent upgrade to a higher
# version keeps the backups and the settings; the registered quiet uninstall
# leaves the prefix as it was before the install, key for key and file for file.
#   setup-remove.sh 64|32 BUILD_DIR VERSION NSI
set -euo pipefail
arch=$1; build=$(cd "$2" && pwd); version=$3; nsi=$4
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export TOVU_PREFIX=setup$arch
prefix=$build/$TOVU_PREFIX
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
rm -rf "${prefix:?}"
work=$build/setup-e2e-$arch
rm -rf "$work"; mkdir -p "$work"

win() { "$top/tools/wine-run.sh" "$arch" "$build" "$@"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
# Ends the prefix's processes, which also writes its registry to its files.
settle() { WINEPREFIX=$prefix timeout 60 wineserver -k 2>/dev/null || true; sleep 1; }
# running NAME: a process of this prefix runs NAME
running() {
  local pid
  for pid in $(pgrep -f "$1" || true); do
    { tr "\0" "\n" < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && return 0
  done
  return 1
}
# query KEY NAME: the value's data in the 32-bit view, as the system's own
# registry tool shows it (a 32-bit program's view is what the installer wrote)
query() {
  win reg query "$1" /v "$2" /reg:32 2>/dev/null | tr -d '\r' |
    awk -v n="$2" '$1 == n { sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]+/, ""); print }'
}

if [ "$arch" = 64 ]; then pfiles='Program Files (x86)'; else pfiles='Program Files'; fi
folder=$prefix/drive_c/$pfiles/Tovu
arp='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tovu'
data=$prefix/drive_c/ProgramData/Tovu

# The prefix as it is before anything is installed, after a restart as the
# end of the test has one.
restart() { win wineboot -r >/dev/null 2>&1 || true; settle; }
restart
python3 "$here/snapshot.py" "$prefix" "$work/before.txt"

# The programs talk to our own service on this machine only; the addresses
# are machine settings, which the uninstall removes with the rest.
svc=""
trap '[ -z "$svc" ] || kill "$svc" 2>/dev/null || true' EXIT
(cd "$top" && exec python3 -m service --host 127.0.0.1 --port 0 --db "$work/service.db") > "$work/port" &
svc=$!
for _ in $(seq 1 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -1 "$work/port"); [ -n "$port" ] || fail "the service did not start"
base=http://127.0.0.1:$port
for v in "LI_URL=$base/client.asmx/GetXML?action=%ACTION%&cr=%CU%" "ADDON_URL=$base/addons.asmx" \
         "UPDATE_URL=$base/update.asmx/Check?cfg=%CFG_ID%&uid=%UID%&lng=%LNG%"; do
  win reg add 'HKLM\Software\Tovu' /reg:32 /v "${v%%=*}" /d "${v#*=}" /f >/dev/null
done
# reports ACTION: how many reports of ACTION the service stored
reports() {
  python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT count(*) FROM reports WHERE action=?", (sys.argv[2],)).fetchone()[0])' "$work/service.db" "$1"
}

win "$build/TovuSetup-$version.exe" /S || fail "the silent install exits $?"
[ "$(reports INTOVU)" -ge 1 ] || fail "the install role sent no install report"
for f in Tovu.exe TovuTray.exe Uninstall.exe; do
  [ -f "$folder/$f" ] || fail "$f is not in $folder"
done
cmp -s "$build/Tovu.exe" "$folder/Tovu.exe" || fail "the installed Tovu.exe is not the built one"
[ "$(query "$arp" DisplayVersion)" = "$version" ] || fail "entry version: $(query "$arp" DisplayVersion)"
[ "$(query "$arp" DisplayName)" = Tovu ] || fail "entry name: $(query "$arp" DisplayName)"
quiet=$(query "$arp" QuietUninstallString)
[ "$quiet" = "\"C:\\$pfiles\\Tovu\\Uninstall.exe\" /S" ] || fail "quiet uninstall command: $quiet"
size=$(query "$arp" EstimatedSize)
[ "$((size))" -gt 100 ] || fail "estimated size: $size"
autostart=$(query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' Tovu)
[ "$autostart" = "\"C:\\$pfiles\\Tovu\\TovuTray.exe\" /startup" ] || fail "autostart value: $autostart"
[ -n "$(query 'HKLM\Software\Tovu' UID)" ] || fail "the install role left no installation identifier"
find "$prefix/drive_c" -name Tovu.lnk -path '*Start Menu*' | grep -q . || fail "no start-menu shortcut"
for _ in $(seq 1 20); do running TovuTray.exe && break; sleep 1; done
running TovuTray.exe || fail "the tray program is not running after the install"

# Upgrade: a higher version over the installed one keeps a backup document
# and the settings (a language the user chose, the identifier).
IFS=. read -r v1 v2 v3 v4 <<<"$version"
higher=$v1.$v2.$v3.$((v4 + 1))
makensis -V1 -DVERSION="$higher" -DOUTFILE="$work/TovuSetup-$higher.exe" -DBINDIR="$build" \
  -DICON="$build/generated/tovu.ico" -DWELCOME="$build/generated/installer/welcome.bmp" \
  -DHEADER="$build/generated/installer/header.bmp" "$nsi" >/dev/null
mkdir -p "$data/Backup"
printf '<backup>kept</backup>\n' > "$data/Backup/kept.xml"
win reg add 'HKLM\Software\Tovu' /v LANGUAGE /d de /f /reg:32 >/dev/null
uid=$(query 'HKLM\Software\Tovu' UID)
win "$work/TovuSetup-$higher.exe" /S || fail "the silent upgrade exits $?"
[ "$(query "$arp" DisplayVersion)" = "$higher" ] || fail "entry version after the upgrade: $(query "$arp" DisplayVersion)"
[ "$(cat "$data/Backup/kept.xml")" = '<backup>kept</backup>' ] || fail "the upgrade lost the backup document"
[ "$(query 'HKLM\Software\Tovu' LANGUAGE)" = de ] || fail "the upgrade lost the language setting"
[ "$(query 'HKLM\Software\Tovu' UID)" = "$uid" ] || fail "the upgrade changed the installation identifier"
for _ in $(seq 1 20); do running TovuTray.exe && break; sleep 1; done
running TovuTray.exe || fail "the tray program is not running after the upgrade"

# The registered quiet uninstall, as the system's list of programs runs it.
# The uninstaller hands over to a copy of itself and ends at once: wait for
# the copy. The command runs from a batch file so that it is taken as the text
# it is, quotes and all.
printf '%s\r\n' "@$quiet" > "$work/uninstall.cmd"
win cmd /c "T:\\setup-e2e-$arch\\uninstall.cmd" || fail "the quiet uninstall exits $?"
for _ in $(seq 1 90); do
  [ ! -e "$folder" ] && ! running 'Un_.\.exe|Au_\.exe' && break
  sleep 1
done
running TovuTray.exe && fail "the tray program still runs after the uninstall"
[ "$(reports UNTOVU)" -eq 1 ] || fail "the uninstall role sent $(reports UNTOVU) uninstall reports, not 1"
# The uninstaller's copy of itself in the temporary folder is removed at the
# next restart, as on Windows: what remains to compare is what stays for good.
settle
restart
python3 "$here/snapshot.py" "$prefix" "$work/after.txt"
python3 "$here/snapshot.py" --diff "$work/before.txt" "$work/after.txt" || fail "the uninstall left the prefix changed"
echo "install, upgrade to $higher and uninstall in the $arch-bit prefix: OK"
