#!/usr/bin/env bash
# Installed under a prefix given only now and started from a home without knobcut/, the program shows the first
# picture in a window of its desktop entry's class. The package, read and never installed, holds the same files.
set -euo pipefail
source=$1 build=$2
. "$source/scripts/xvfb.sh"
work=$(mktemp -d "$build/install-test-XXXXXX")
trap 'kill ${program_pid:-} ${broken_pid:-} ${xvfb_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
expected() { # PREFIX: every file installed, nothing else
    (cd "$source" && printf "$1/%s\n" bin/kalverosin4 share/applications/kalverosin4.desktop knobcut/*.bmp \
        share/doc/kalverosin4/{README.md,changelog.gz,copyright} share/man/man1/kalverosin4.1.gz \
        desktop/icons/*/apps/kalverosin4.png) |
        sed 's|/knobcut/|/share/kalverosin4&|; s|/desktop/icons/|/share/icons/hicolor/|' | sort
}
DESTDIR=$work/root cmake --install "$build" --prefix /opt/k4 >/dev/null
diff <(expected ./opt/k4) <(cd "$work/root" && find . ! -type d | sort)
# The README speaks to the user of the installed program, and what it links to is installed beside it.
readme=$work/root/opt/k4/share/doc/kalverosin4/README.md
if grep -nE '\./(scripts|build)/' "$readme"; then exit 1; fi
for link in $(grep -oE '\]\([^):#]+' "$readme" | cut -c3-); do [ -e "$(dirname "$readme")/$link" ]; done
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
kill "$program_pid" && wait "$program_pid" || true

# From a home whose knobcut/ is empty, the box names both places and what to do, and no window stays behind it.
mkdir -p "$work/broken/knobcut"
HOME=$work/broken run_program "$work/root/opt/k4/bin/kalverosin4" "$work/broken" "" &
broken_pid=$!
wait_for 20 xdotool search --onlyvisible --class Xmessage >/dev/null
wait_for 20 eval '[ -z "$(xdotool search --onlyvisible --class "$(sed -n "s/^StartupWMClass=//p" "$desktop")")" ]'
grep -qF "$work/root/opt/k4/share/kalverosin4/knobcut. An empty or partial knobcut/ in the working directory hides" \
    "$work/broken/stderr.txt" || { cat "$work/broken/stderr.txt" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(echo "$work"/package/kalverosin4_*.deb)
diff <(expected ./usr) <(dpkg-deb -c "$deb" | awk '!/^d/ {print $6}' | sort)
dpkg-deb -f "$deb" Depends | tee /dev/stderr | grep -E '(^|, )liballegro4\.4 \(' | grep -qE '(^|, )libasound2 \('
[ "$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/kalverosin4/changelog.gz | zcat | sed -n '1s/.*(\(.*\)).*/\1/p')" \
    = "$(dpkg-deb -f "$deb" Version)" ]
command -v lintian >/dev/null || exit 0
said=$(lintian -I --fail-on error,warning "$deb") || { echo "$said" >&2; exit 1; }
# To lintian, missing hardening is only information; a build made with Debian's flags must earn none of it.
hardened=$(grep -cxE 'KALVEROSIN_HARDENING:BOOL=ON|KALVEROSIN_SANITIZE:BOOL=OFF|DPKG_BUILDFLAGS:FILEPATH=/.*' \
    "$build/CMakeCache.txt" || true)
if [ "$hardened" = 3 ] && grep -F hardening- <<<"$said"; then exit 1; fi
