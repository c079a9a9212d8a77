#!/usr/bin/env bash
# Installed under a prefix given only now and started from a home without knobcut/, the program shows the first
# picture in a window of its desktop entry's class. The package, read and never installed, holds the same files.
set -euo pipefail
source=$1 build=$2
. "$source/scripts/xvfb.sh"
work=$(mktemp -d "$build/install-test-XXXXXX")
trap 'kill ${program_pid:-} ${xvfb_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
expected() { # PREFIX: every file installed, nothing else
    (cd "$source" && printf "$1/%s\n" bin/kalverosin4 share/applications/kalverosin4.desktop knobcut/*.bmp \
        share/doc/kalverosin4/README.md desktop/icons/*/apps/kalverosin4.png) |
        sed 's|/knobcut/|/share/kalverosin4&|; s|/desktop/icons/|/share/icons/hicolor/|' | sort
}
DESTDIR=$work/root cmake --install "$build" --prefix /opt/k4 >/dev/null
diff <(expected ./opt/k4) <(cd "$work/root" && find . ! -type d | sort)
desktop=$work/root/opt/k4/share/applications/kalverosin4.desktop
# It exits 0 even on errors "fatal in the future"; an entry without any remark passes.
remarks=$(desktop-file-validate "$desktop") && [ -z "$remarks" ] || { echo "$remarks" >&2; exit 1; }

start_xvfb
HOME=$work/home start_program_in "$work/root/opt/k4/bin/$(sed -n 's/^Exec=//p' "$desktop")" "$work/home" ""
golden=$source/tests/golden/first-picture.bmp
wait_for 20 shows 0 0 "$golden" 0 0 640 480 || { echo "not $golden: $(cat "$work/home/stderr.txt")" >&2; exit 1; }
# The window: the entry's class and name, and an icon of its own.
xprop -id "$window" WM_CLASS | tee /dev/stderr | grep -q ", \"$(sed -n 's/^StartupWMClass=//p' "$desktop")\"$"
xprop -id "$window" WM_NAME | tee /dev/stderr | grep -qF "= \"$(sed -n 's/^Name=//p' "$desktop")\""
xprop -id "$window" WM_HINTS | tee /dev/stderr | grep -q "bitmap id # to use for icon"

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(echo "$work"/package/kalverosin4_*.deb)
diff <(expected ./usr) <(dpkg-deb -c "$deb" | awk '!/^d/ {print $6}' | sort)
dpkg-deb -f "$deb" Depends | tee /dev/stderr | grep -E '(^|, )liballegro4\.4 \(' | grep -qE '(^|, )libasound2 \('
