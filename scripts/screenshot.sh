#!/usr/bin/env bash
# Takes docs/panel.png from the real program under an Xvfb of its own: a few
# step buttons set, the transport running.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}" xvfb xdotool imagemagick
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" --target kalverosin4 -j"$(nproc)" >/dev/null

exec 3< <(Xvfb -displayfd 1 -screen 0 800x600x16 -nolisten tcp 2>/dev/null)
xvfb=$!
read -r -t 30 display <&3
export DISPLAY=":$display"
cd "$root"
./build/kalverosin4 2>/dev/null &
program=$!
trap 'kill "$program" "$xvfb" 2>/dev/null || true' EXIT

for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --class Allegro 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "${window:-}" ] || { echo "the window did not appear" >&2; exit 1; }
sleep 1.5  # the start-up pause: pointer moves made during it are not reliable

click() {
    xdotool mousemove --window "$window" "$1" "$2"; sleep 0.08
    xdotool mousedown 1; sleep 0.08
    xdotool mouseup 1; sleep 0.08
}
# A cell of a step button: row top, step 1-16, line 1-3 (top to bottom).
cell() { click $((195 + 15 * ($2 - 1) + 7)) $(($1 + 25 + 15 * ($3 - 1) + 7)); }

for step in 1 4 7 10 13; do cell 75 "$step" 1; done
for step in 3 6 11 14; do cell 75 "$step" 2; done
for step in 2 5 8 9 12 16; do cell 155 "$step" 1; done
for step in 1 3 5 7; do cell 245 "$step" 1; done
for step in 2 6; do cell 245 "$step" 2; done
for step in 1 5 9 13; do cell 325 "$step" 1; done
for step in 3 7 11 15; do cell 325 "$step" 2; done
click 202 437
sleep 0.9
xdotool mousemove --window "$window" 320 238
sleep 0.3
import -window root -crop 640x480+0+0 "$root/docs/panel.png"
echo "wrote docs/panel.png"
