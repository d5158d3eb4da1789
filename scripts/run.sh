#!/usr/bin/env bash
# Installs what is needed, builds, and runs the program with the given arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$("$root/scripts/build.sh" | tail -n 1)
exec "$build_dir/VelmoraVirtualPrinter" "$@"
