#!/usr/bin/env bash
# Installed into a DESTDIR under a prefix given only now and started from a home
# without knobcut/, the program shows the first picture in a window of the class
# its desktop entry names; the Debian package, never installed, holds the same.
set -euo pipefail
source=$1 build=$2
. "$source/scripts/xvfb.sh"
work=$(mktemp -d "$build/install-test-XXXXXX")
trap 'kill ${program_pid:-} ${xvfb_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }
expected() { # PREFIX: every file installed, nothing else
    (cd "$source" && printf "$1/%s\n" bin/kalverosin4 share/applications/kalverosin4.desktop knobcut/*.bmp \
        share/doc/kalverosin4/README.md desktop/icons/*/apps/kalverosin4.png) |
        sed 's|/knobcut/|/share/kalverosin4&|; s|/desktop/icons/|/share/icons/hicolor/|' | sort
}
DESTDIR=$work/root cmake --install "$build" --prefix /opt/k4 >/dev/null
diff <(expected ./opt/k4) <(cd "$work/root" && find . ! -type d | sort) || fail "other files installed"
desktop=$work/root/opt/k4/share/applications/kalverosin4.desktop
desktop-file-validate "$desktop" || fail "the desktop entry is not valid"

start_xvfb
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
diff <(expected ./usr) <(dpkg-deb -c "$deb" | awk '!/^d/ {print $6}' | sort) || fail "other files in the package"
dpkg-deb -f "$deb" Depends | grep -E '(^|, )liballegro4\.4 \(' | grep -qE '(^|, )libasound2 \(' ||
    fail "the package depends on $(dpkg-deb -f "$deb" Depends)"
