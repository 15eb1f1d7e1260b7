#!/usr/bin/env bash
# Makes the cabinets the archive tests read, with the real tool (gcab), and
# keeps the files they were made from beside them for the byte comparison.
#   tools/make-test-cabs.sh OUT_DIR
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out/src/sub/deep"
cd "$out/src"
printf 'one file, stored\r\n' > one.txt
printf 'alpha\n' > alpha.txt
# Large and repetitive enough to span several compressed data blocks.
for i in $(seq 1 6000); do printf 'line %05d of a file that compresses well\n' "$i"; done > big.log
head -c 40000 /dev/urandom > noise.bin
printf 'MZ tool\n' > sub/tool.exe
printf 'deep\n' > sub/deep/note.txt
: > empty.dat
# A name long enough to be overwritten in place by the tests' hostile names.
printf 'payload\n' > aaaaaaaaaaaaaaaaaaaaaaaa.txt
# Even seconds: cabinets keep the time in two-second steps.
touch -d '2020-05-17 10:20:30' one.txt alpha.txt big.log noise.bin sub/tool.exe sub/deep/note.txt empty.dat aaaaaaaaaaaaaaaaaaaaaaaa.txt
gcab -c ../one.cab one.txt
gcab -c -z ../several.cab alpha.txt big.log noise.bin
gcab -c -z ../folders.cab alpha.txt sub/tool.exe sub/deep/note.txt
gcab -c ../empty.cab empty.dat
gcab -c ../victim.cab aaaaaaaaaaaaaaaaaaaaaaaa.txt
# Update cabinets: both programs, and one whose second file cannot be put in
# place when the tests block it.
mkdir -p ../update && cd ../update
printf 'new main program\n' > Tovu.exe
printf 'new tray program\n' > TovuTray.exe
printf 'new library\n' > a.dll
gcab -c -z ../update.cab Tovu.exe TovuTray.exe
gcab -c -z ../rollback.cab a.dll TovuTray.exe
# Digests by the host's own tool, to check ours against.
cd "$out" && sha256sum -- *.cab src/big.log update/TovuTray.exe > SHA256SUMS
