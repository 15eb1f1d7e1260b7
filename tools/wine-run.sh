#!/usr/bin/env bash
# Runs a Windows program of the build under Wine in a project-owned prefix.
#   wine-run.sh 64|32 BUILD_DIR PROGRAM [ARGS...]
# PROGRAM is a file inside BUILD_DIR, or the bare name of a Windows program of
# the prefix (regedit, reg). TOVU_PREFIX names another prefix folder under
# BUILD_DIR (default wine64 / wine32), e.g. the sandbox of tools/run.sh;
# TOVU_WINVER the Windows version the program is shown (see below).
# The prefix lives in BUILD_DIR/wine64 or BUILD_DIR/wine32. It is copied from a
# pristine prefix made once per machine (creating one takes half a minute) and
# reused. The host's root drive (Z:) is removed so that no cleaning or deletion
# test can ever reach the host; the build folder is mapped as T: instead and the
# program runs from there.
#
# Where the machine cannot run 32-bit Linux code natively, the 32-bit half of
# Wine runs under user-mode emulation (tools/ensure-i386.sh).
set -euo pipefail

arch=$1; build=$(cd "$2" && pwd); prog=$3; shift 3
case "$arch" in
  64) winearch=win64 ;;
  32) winearch=win32 ;;
  *) echo "wine-run: arch must be 64 or 32" >&2; exit 2 ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
"$here/ensure-i386.sh"

export WINEARCH=$winearch
export WINEDEBUG=-all
# A crashing test must end, not wait minutes for the debugger to attach; no
# desktop menu entries are wanted from a test prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe,winemenubuilder.exe=d"
# A test may put a recording stand-in for a system library beside itself.
if [ -n "${TOVU_DLLOVERRIDES:-}" ]; then WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$TOVU_DLLOVERRIDES"; fi

# Windows programs that open a window (and some shell calls) need an X server.
# A socket left by a server that has gone (a session's processes end, its
# files in /tmp stay) must not count as a display: window creation would fail.
xvfb_alive() {
  local pid
  [ -S /tmp/.X11-unix/X$1 ] && [ -f /tmp/.X$1-lock ] || return 1
  pid=$(tr -dc 0-9 < /tmp/.X$1-lock)
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null
}
if [ -z "${DISPLAY:-}" ]; then
  disp=97
  if ! xvfb_alive $disp; then
    (flock -w 120 9 || { echo "wine-run: the display's lock was not released in 120 s" >&2; exit 3; }
     if ! xvfb_alive $disp; then
       rm -f /tmp/.X11-unix/X$disp /tmp/.X$disp-lock
       # The server must not inherit the lock: it would hold it for its whole
       # life, and a run that found no display yet would wait for ever.
       setsid Xvfb :$disp -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 < /dev/null 9>&- &
       for _ in $(seq 1 100); do xvfb_alive $disp && break; sleep 0.1; done
     fi) 9>/tmp/tovu-xvfb.lock
  fi
  export DISPLAY=:$disp
fi

# Ends the current prefix's processes; used where a run stalled. The lock of a
# block it may run in is not handed on (see the display).
end_server() { timeout 60 wineserver -k 2>/dev/null 9>&- || true; }

cache=${TOVU_WINE_CACHE:-/var/tmp/tovu-wine}
pristine=$cache/win$arch
mkdir -p "$cache"
(
  flock -w 900 9 || { echo "wine-run: another run has been creating the prefix for 900 s" >&2; exit 3; }
  if [ ! -f "$pristine/.tovu-ready" ]; then
    rm -rf "$pristine"
    # Neither the boot nor its server may inherit the lock (see the display).
    echo "wine-run: creating the $arch-bit prefix $pristine" >&2
    WINEPREFIX=$pristine timeout 600 wineboot -i >/dev/null 2>&1 9>&- || true
    WINEPREFIX=$pristine timeout 120 wineserver -w 9>&- || WINEPREFIX=$pristine end_server
    rm -f "$pristine/dosdevices/z:"
    [ -d "$pristine/drive_c/windows" ] || { echo "wine-run: prefix creation failed" >&2; exit 3; }
    touch "$pristine/.tovu-ready"
  fi
) 9>"$cache/win$arch.lock"

export WINEPREFIX="$build/${TOVU_PREFIX:-wine$arch}"
(
  flock -w 300 9 || { echo "wine-run: another run has been copying the prefix for 300 s" >&2; exit 3; }
  if [ ! -f "$WINEPREFIX/.tovu-ready" ]; then
    rm -rf "$WINEPREFIX"
    cp -a "$pristine" "$WINEPREFIX"
    rm -f "$WINEPREFIX/dosdevices/z:"
    ln -sfn "$build" "$WINEPREFIX/dosdevices/t:"
    touch "$WINEPREFIX/.tovu-ready"
  fi
) 9>"$WINEPREFIX.lock"

case "$prog" in
  */*)
    # Program path as the T: drive sees it.
    abs=$(cd "$(dirname "$prog")" && pwd)/$(basename "$prog")
    case "$abs" in
      "$build"/*) rel=${abs#"$build"/} ;;
      *) echo "wine-run: $prog is not inside $build" >&2; exit 2 ;;
    esac
    winpath="T:\\${rel//\//\\}" ;;
  *) winpath=$prog ;;
esac

# Keep the server (and the system processes it starts) alive between runs.
timeout 60 wineserver -p60 >/dev/null 2>&1 || true
cd "$build"

# TOVU_WINVER (winxp, win7, ...): the Windows version the program is shown.
# Wine keeps it per program name in the prefix, so give such a program a name
# no other run uses. Like every run here it may stall (see the watchdog below):
# bounded, tried twice.
if [ -n "${TOVU_WINVER:-}" ]; then
  set_version() {
    timeout 150 wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$prog")" /v Version /d "$TOVU_WINVER" /f >/dev/null 2>&1
  }
  set_version || { end_server; set_version; } ||
    { echo "wine-run: cannot set the Windows version $TOVU_WINVER" >&2; exit 3; }
fi

# At a terminal the program runs as it is, talking to the user.
if [ -t 1 ]; then exec wine "$winpath" "$@"; fi

# Otherwise it runs under a watchdog, with its output held back until it ends
# so that a run that is repeated leaves only the last run's output. With the
# 32-bit half of Wine emulated, the emulator itself may die (exit status 139,
# "qemu: uncaught target signal 11"; a crash of our own code ends with a
# Windows status instead, the debugger being off): such a run is run again,
# three runs at most. A run that writes nothing for TOVU_STALL_SECONDS
# (default 150; every test prints each test's start and end, the console
# front-end its progress) is taken for a deadlock: it is ended with the
# prefix's processes and reported as a failure that names the program and the
# test that was running, never hidden by another run.
stall=${TOVU_STALL_SECONDS:-150}
out=$(mktemp "${TMPDIR:-/tmp}/tovu-run.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/tovu-run.XXXXXX")
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
  : >"$out"; : >"$err"
  wine "$winpath" "$@" >"$out" 2>"$err" &
  pid=$!
  idle=0; seen=""; stalled=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    now=$(stat -c %s "$out" "$err" | tr '\n' ' ')
    if [ "$now" = "$seen" ]; then idle=$((idle + 1)); else idle=0; seen=$now; fi
    if [ "$idle" -ge "$stall" ]; then
      stalled=1
      echo "wine-run: no output for $stall s (attempt $attempt); ending the prefix's processes" >&2
      kill -9 "$pid" 2>/dev/null || true
      end_server
      break
    fi
  done
  rc=0
  wait "$pid" || rc=$?
  if [ "$stalled" -eq 0 ] && [ "$rc" -ne 139 ]; then
    cat "$out"; cat "$err" >&2
    exit "$rc"
  fi
  if [ "$stalled" -eq 1 ]; then
    # The last test that started and did not end is the one that hung.
    running=$(awk '/^\[ RUN      \]/ { t = $4 } /^\[       OK \]|^\[  FAILED  \]|^\[  SKIPPED \]/ { t = "" }
                   END { print t }' "$out")
    {
      cat "$out" "$err"
      echo "wine-run: STALLED: $(basename "$winpath")${running:+ in test $running} wrote nothing for $stall s" \
           "and was ended (a deadlock is a failure)"
    } >&2
    exit 124
  fi
  {
    echo "wine-run: the emulator crashed (attempt $attempt); what the program wrote before:"
    cat "$out" "$err"
    if [ "$attempt" -lt 3 ]; then echo "wine-run: running the program again"; fi
  } >&2
done
exit "$rc"
