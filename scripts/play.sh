#!/usr/bin/env bash
# Installs what is missing, builds Kalverosin 4 and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}"
# Only the program: the test suite needs packages of its own (scripts/check.sh installs them).
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVEROSIN_TESTS=OFF >/dev/null
cmake --build "$root/build" --target kalverosin4 -j"$(nproc)"
# The skin is read from knobcut/ below the working directory.
cd "$root"
exec "$root/build/kalverosin4"
