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
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
# The prefix is made first and its session left to end; then a persistent server and a desktop process
# start the one session the tests share (with one service manager).
wineboot -i >/dev/null 2>&1
# Every server of the tests listens on the loopback address only: the service under test too, which
# Wine's service manager starts with the system's environment, not the tests'.
wine reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
  /v VELMORA_LISTEN_LOOPBACK /d 1 /f >/dev/null 2>&1
# No display: windows (the stand-in print program's) go to Wine's null graphics driver.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
wineserver -p
wine cmd.exe /c exit >/dev/null 2>&1
setsid nohup wine explorer.exe /desktop=velmora,800x600 >/dev/null 2>&1 &
wine cmd.exe /c exit >/dev/null 2>&1
stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT

cd "$build_dir"
# A Wine process now and then fails to start under load, with no output at all: a failed test gets one
# more run.
ctest --output-on-failure -j "$(nproc)" --repeat until-pass:2 "$@"
