#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the Linux suite, then the Windows program's suite
# cross-built and run under Wine (not with VELMORA_SANITIZE, which the cross-build has no use for, nor
# with VELMORA_WINDOWS_TESTS=OFF). Arguments go to the Linux suite's ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$("$root/scripts/build.sh" | tail -n 1)
(cd "$build_dir" && ctest --output-on-failure -j "$(nproc)" "$@")
if [ -z "${VELMORA_SANITIZE:-}" ] && [ "${VELMORA_WINDOWS_TESTS:-ON}" != OFF ]; then
  "$root/scripts/test-windows.sh"
fi
