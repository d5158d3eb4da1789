#!/usr/bin/env bash
# Cross-builds the Windows program and its tests, then runs the tests under Wine (installed when missing)
# in a fresh Wine prefix of the build folder. One Wine session serves the whole run: its server is kept
# alive (the service under test dies with it otherwise) and a desktop process stands ready, so that the
# test programs do not each start their own. Arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-packages.sh" wine64 wine

build_dir=$("$root/scripts/build-windows.sh" | tail -n 1)

# A fresh prefix: an English system (code page 1252), no Mono or Gecko installers, no debug chatter.
export WINEPREFIX="$build_dir/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY
echo "Wine: a fresh prefix in $WINEPREFIX" >&2
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
# Each set-up step gets a second try, and says which it was when that fails too: the first start of a
# fresh prefix has now and then failed on a loaded machine.
wine_step() {
  "$@" >/dev/null 2>&1 && return 0
  sleep 2
  "$@" >/dev/null 2>&1 && return 0
  echo "Wine set-up failed: $*" >&2
  return 1
}
# The prefix is made first and its session left to end; then a persistent server and a desktop process
# start the one session the tests share (with one service manager).
wine_step wineboot -i
# Every server of the tests listens on the loopback address only: the service under test too, which
# Wine's service manager starts with the system's environment, not the tests'.
wine_step wine reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
  /v VELMORA_LISTEN_LOOPBACK /d 1 /f
# No display: windows (the stand-in print program's) go to Wine's null graphics driver.
wine_step wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
wineserver -w || true
echo "Wine: starting the session of the tests" >&2
wineserver -p || true
wine_step wine cmd.exe /c exit
setsid nohup wine explorer.exe /desktop=velmora,800x600 >/dev/null 2>&1 &
wine_step wine cmd.exe /c exit

cd "$build_dir"
# A Wine process now and then fails to start under load, with no output at all: a failed test gets one
# more run.
ctest --output-on-failure -j "$(nproc)" --repeat until-pass:2 "$@"
