#!/usr/bin/env bash
# Installs the Debian packages that building and testing need. Idempotent: installs only what is
# missing and refreshes the package lists only then.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libbenchmark-dev
  zlib1g-dev libcups2-dev
  # The desktop program's windows (Qt 6 Widgets); the offscreen and X11 platform plug-ins.
  qt6-base-dev qt6-qpa-plugins
  clang libclang-rt-14-dev libfuzzer-14-dev
  # Real peers of the tests: LPD clients, the print spooler, and its LPD server cups-lpd (which socat serves).
  rlpr cups cups-client util-linux socat
  # The Debian package (scripts/package.sh, tests/package): its checker, and the tools of its configuration
  # step (file capability, default ACLs).
  lintian libcap2-bin acl
)
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-packages.sh" "${packages[@]}"

# LPRng's lpr, a third real client, conflicts with the CUPS package: it is unpacked beside the build
# instead of installed, and the tests run it from there.
lprng="$root/build-tools/lprng"
if [ ! -x "$lprng/usr/bin/lpr" ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  download=$(mktemp -d)
  chmod 755 "$download"  # apt downloads as its own user
  (cd "$download" && apt-get download -q lprng)
  mkdir -p "$lprng"
  dpkg-deb -x "$download"/lprng_*.deb "$lprng"
  rm -rf "$download"
fi
