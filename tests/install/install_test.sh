#!/usr/bin/env bash
# Kalverosin 4 as a user gets it. Installed into a DESTDIR under a prefix given
# only now, it holds just its files and, started from a home without knobcut/,
# shows the golden first picture in a window of the class its desktop entry
# names. Its Debian package, read and never installed, holds the same files and
# depends on Allegro and ALSA.
set -euo pipefail
source=$1 build=$2
. "$source/scripts/xvfb.sh"
work=$(mktemp -d "$build/install-test-XXXXXX")
trap 'kill ${program_pid:-} ${xvfb_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }
files() { (cd "$1" && find . ! -type d | sort); }

expected=$(cd "$source" && printf './%s\n' bin/kalverosin4 share/applications/kalverosin4.desktop \
    share/doc/kalverosin4/README.md desktop/icons/*/apps/kalverosin4.png knobcut/*.bmp |
    sed 's|^\./knobcut|./share/kalverosin4/knobcut|; s|^\./desktop/icons|./share/icons/hicolor|' | sort)
DESTDIR=$work/root cmake --install "$build" --prefix /opt/k4 >/dev/null
diff <(echo "$expected") <(files "$work/root/opt/k4") || fail "the install holds other files than these"
[ "$(files "$work/root" | wc -l)" -eq "$(echo "$expected" | wc -l)" ] || fail "the install wrote outside its prefix"
desktop=$work/root/opt/k4/share/applications/kalverosin4.desktop
desktop-file-validate "$desktop" || fail "the desktop entry is not valid"

start_xvfb
mkdir "$work/home"
HOME=$work/home start_program_in "$work/root/opt/k4/bin/$(sed -n 's/^Exec=//p' "$desktop")" "$work/home" ""
first_picture() {
    local X Y
    eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^[XY]=')"
    xwd -root -silent | python3 "$source/scripts/screen_match.py" "$X" "$Y" "$source/tests/golden/first-picture.bmp" 0 0 640 480
}
wait_for 20 first_picture || fail "not the first picture: $(cat "$work/home/stderr.txt")"
[ "$(xprop -id "$window" WM_CLASS | sed 's/.*, "\(.*\)"$/\1/')" = "$(sed -n 's/^StartupWMClass=//p' "$desktop")" ] ||
    fail "StartupWMClass is not the window's class: $(xprop -id "$window" WM_CLASS)"

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(echo "$work"/package/kalverosin4_*.deb)
diff <(echo "$expected" | sed 's|^\.|./usr|') <(dpkg-deb -c "$deb" | awk '!/^d/ {print $6}' | sort) ||
    fail "the package holds other files than the install"
dpkg-deb -f "$deb" Depends | grep -E '(^|, )liballegro4\.4 \(' | grep -qE '(^|, )libasound2 \(' ||
    fail "the package depends on $(dpkg-deb -f "$deb" Depends)"
