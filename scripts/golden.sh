#!/usr/bin/env bash
# Draws the panel's first picture headless into tests/golden/first-picture.bmp,
# the picture the tests hold the panel and the real window to. Run it only on
# purpose, after changing the look of the panel, and look at the new picture
# before committing it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -DKALVEROSIN_TESTS=OFF >/dev/null
cmake --build "$root/build" --target pictures -j"$(nproc)" >/dev/null
cd "$root"
build/tools/pictures first-picture tests/golden/first-picture.bmp
echo "wrote tests/golden/first-picture.bmp"
