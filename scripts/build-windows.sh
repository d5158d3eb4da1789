#!/usr/bin/env bash
# Cross-builds the Windows program (VelmoraVirtualPrinter.exe and velmora-lpr.exe) and its tests with
# mingw-w64 into build-windows/, installing the cross compiler, Windows zlib and GoogleTest's sources first
# when they are missing. Prints the build folder last. VELMORA_BUILD_TESTS=OFF builds the programs only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-packages.sh" g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest

build_dir=${VELMORA_BUILD_DIR:-$root/build-windows}
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
  -DVELMORA_BUILD_TESTS="${VELMORA_BUILD_TESTS:-ON}" -DVELMORA_BUILD_BENCH=OFF -DVELMORA_WERROR="${VELMORA_WERROR:-OFF}" >&2
cmake --build "$build_dir" -j "$(nproc)" >&2
echo "$build_dir"
