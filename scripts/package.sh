#!/usr/bin/env bash
# Installs what is missing and builds the Debian package of Kalverosin 4 in
# build-package/ (dpkg-shlibdeps finds what it depends on, dpkg-buildflags gives
# Debian's hardening flags) and has lintian check it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}" dpkg-dev file lintian
cmake -S "$root" -B "$root/build-package" -DCMAKE_BUILD_TYPE=Release -DKALVEROSIN_TESTS=OFF >/dev/null
cmake --build "$root/build-package" --target package -j"$(nproc)"
lintian --fail-on error,warning "$root"/build-package/kalverosin4_*.deb
