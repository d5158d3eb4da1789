#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$("$root/scripts/build.sh" | tail -n 1)
cd "$build_dir"
ctest --output-on-failure -j "$(nproc)" "$@"
