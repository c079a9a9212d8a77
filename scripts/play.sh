#!/usr/bin/env bash
# Installs what is missing, builds Kalverosin 4 and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target kalverosin4 -j"$(nproc)"
# The skin is read from knobcut/ below the working directory.
cd "$root"
exec "$root/build/kalverosin4"
