#!/usr/bin/env bash
# Installs what is needed, builds, and runs the program with the given arguments: the desktop program
# where a display exists, otherwise the server without windows in the foreground (Ctrl-C stops it).
# Where no configuration exists yet, it first writes one: the virtual printer PASS, which files every job
# it receives into the folder Delivered/ of the base folder, and the LPD port (515 for root, else 1515).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$("$root/scripts/build.sh" | tail -n 1)
base=${VELMORA_BASE_FOLDER:-$build_dir/VelmoraSpooler}
base=${base%/}

mkdir -p "$base/Delivered"
if [ ! -s "$base/QLSconf.ini" ]; then
  port=515
  [ "$(id -u)" -eq 0 ] || port=1515
  printf '[Settings]\r\nPortLPD=%s\r\n' "$port" > "$base/QLSconf.ini"
fi
if [ ! -s "$base/Printer.cfg" ]; then
  # Name;OutputMode;ProgramCommand;ProgramPrinter;HoldJobs;StatusPort;LocalPrinter;IPAddress;QueueName;
  # InputBin;OutputBin — program mode (1): copy the spooled file (%1) into Delivered/.
  printf 'PASS;1;"/bin/cp" %%1 "%s/Delivered/"; ;0; ; ;192.168.1.250; ; ; \r\n' "$base" > "$base/Printer.cfg"
fi
port=$(sed -n 's/^PortLPD=\([0-9]*\).*/\1/p' "$base/QLSconf.ini" | head -n 1)
cat >&2 <<TEXT
Velmora Virtual Printer: base folder $base, LPD port ${port:-515}.
Send a first job:  $build_dir/tools/velmora-lpr -p ${port:-515} 127.0.0.1 PASS README.md
It is filed into:  $base/Delivered/
TEXT

export VELMORA_BASE_FOLDER="$base"
if [ $# -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  set -- -WINSERV
fi
exec "$build_dir/VelmoraVirtualPrinter" "$@"
