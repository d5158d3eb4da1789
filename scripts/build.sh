#!/usr/bin/env bash
# Configures and builds into build/ (or build-<sanitizer>/ when VELMORA_SANITIZE is set).
# Environment: VELMORA_SANITIZE=address|thread, VELMORA_WERROR=ON, VELMORA_BUILD_DIR to choose the folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" >&2

sanitize=${VELMORA_SANITIZE:-}
build_dir=${VELMORA_BUILD_DIR:-$root/build${sanitize:+-$sanitize}}
cmake -S "$root" -B "$build_dir" -G Ninja \
  -DVELMORA_SANITIZE="$sanitize" -DVELMORA_WERROR="${VELMORA_WERROR:-OFF}" >&2
cmake --build "$build_dir" -j "$(nproc)" >&2
echo "$build_dir"
