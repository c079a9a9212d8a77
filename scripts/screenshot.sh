#!/usr/bin/env bash
# Takes docs/panel.png from the real program under an Xvfb of its own: a few
# step buttons set, the transport running.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
. "$root/scripts/xvfb.sh"
install_missing_packages "${BUILD_PACKAGES[@]}" xvfb xdotool x11-apps python3 imagemagick
cmake -S "$root" -B "$root/build" -DKALVEROSIN_TESTS=OFF >/dev/null
cmake --build "$root/build" --target kalverosin4 pictures -j"$(nproc)" >/dev/null
read_layout "$root/build/tools/pictures"

work=$(mktemp -d)
trap 'kill ${program_pid:-} ${xvfb_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
# An empty configuration: the cockpit shows the MIDI driver Allegro picks.
: >"$work/allegro.cfg"
start_xvfb
start_program_in "$root/build/kalverosin4" "$work"

# Each press is held until the button shows it pressed.
click() { press_until "$1" "$2" shows "$1" "$2" button_15x15_t_p.bmp 0 0 || { echo "no press at ($1, $2)" >&2; exit 1; }; }
# A cell of a step button: row, step 1-16, line 1-3 (cells of 15 pixels, top to bottom).
cell() {
    local x y
    read -r x y <<<"$(place "$1.step-$2")"
    click "$x" $((y + 15 * ($3 - 1)))
}

for step in 1 4 7 10 13; do cell upper-controller-row "$step" 1; done
for step in 3 6 11 14; do cell upper-controller-row "$step" 2; done
for step in 2 5 8 9 12 16; do cell lower-controller-row "$step" 1; done
for step in 1 3 5 7; do cell note-row "$step" 1; done
for step in 2 6; do cell note-row "$step" 2; done
for step in 1 5 9 13; do cell velocity-row "$step" 1; done
for step in 3 7 11 15; do cell velocity-row "$step" 2; done
click $(place startstop)
sleep 0.9  # a few steps played, for the lit LEDs
park
sleep 0.3
import -window root -crop 640x480+0+0 "$root/docs/panel.png"
echo "wrote docs/panel.png"
