#!/usr/bin/env bash
# Builds the Debian package: installs what is needed, builds the program without tests into
# build-package/ (or $VELMORA_BUILD_DIR) with Debian's hardening flags, and packs it with CPack.
# Prints the package's path last; install it with
#   sudo apt install ./build-package/velmora-virtual-printer_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" >&2

build_dir=${VELMORA_BUILD_DIR:-$root/build-package}
# CFLAGS, CXXFLAGS, LDFLAGS as Debian builds its packages (stack protector, fortified functions, full RELRO,
# immediate binding); CMake takes them at the first configuration of the folder.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"  # CMake reads no CPPFLAGS
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF -DVELMORA_WERROR="${VELMORA_WERROR:-OFF}" >&2
cmake --build "$build_dir" -j "$(nproc)" >&2
rm -f "$build_dir"/velmora-virtual-printer_*.deb
(cd "$build_dir" && cpack -G DEB) >&2
ls "$build_dir"/velmora-virtual-printer_*.deb
