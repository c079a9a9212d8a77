#!/usr/bin/env bash
# Draws the program's icon for the desktop's menu into desktop/icons/, in the
# hicolor theme's sizes that menus and task bars ask for: 64 x 64 as drawn,
# whole multiples of it with sharp pixels, the others smoothed; and the
# window's icon, src/WindowIcon.xpm.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}" imagemagick
cmake -S "$root" -B "$root/build-icons" -DKALVEROSIN_TESTS=OFF >/dev/null
cmake --build "$root/build-icons" --target pictures -j"$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$root"
build-icons/tools/pictures icon "$work/icon.bmp"
for size in 16 22 24 32 48 64 128 256; do
    filter=point
    [ $((size % 64)) -eq 0 ] || filter=lanczos
    mkdir -p "desktop/icons/${size}x$size/apps"
    # -strip: no date in the file, so that an unchanged icon stays the same bytes.
    convert "$work/icon.bmp" -filter $filter -resize "${size}x$size" -strip \
        "desktop/icons/${size}x$size/apps/kalverosin4.png"
done
# The window's own icon, as X's window manager hints carry it: compiled into the program.
convert "$work/icon.bmp" -strip "xpm:$work/icon.xpm"
sed '2s/^static const char \*[A-Za-z0-9_]*\[\]/static const char* window_icon_xpm[]/' "$work/icon.xpm" >src/WindowIcon.xpm
echo "wrote desktop/icons/ and src/WindowIcon.xpm"
