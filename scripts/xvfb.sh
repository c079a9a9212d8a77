# The real program under an Xvfb of its own: the start shared by the end-to-end
# tests (tests/support/e2e.cpp), bench/timing.sh and scripts/screenshot.sh.
# Sourced. run_xvfb and run_program replace the shell, so that the caller can
# stop and wait for them by process id; start_xvfb and start_program_in run
# them in the background for scripts.

# Becomes an Xvfb on a free display, 16 bits deep like the program's window,
# that writes its display number to descriptor FD. Without -noreset the server
# resets whenever its last client leaves, and a program that connects just then
# loses its connection and ends without a window.
run_xvfb() { # FD
    exec Xvfb -displayfd "$1" -screen 0 800x600x16 -nolisten tcp -noreset 2>/dev/null
}

# Becomes PROGRAM in the working directory DIR. Unless DIR has them already, it
# gets the skin (SKIN, the source tree's by default; none if empty) and an
# allegro.cfg that selects the capture driver, which writes the MIDI sent to
# DIR/capture.txt. The program's output goes to DIR/stdout.txt and
# DIR/stderr.txt.
run_program() { # PROGRAM DIR [SKIN]
    local skin=${3-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/knobcut}
    mkdir -p "$2"
    [ -z "$skin" ] || [ -e "$2/knobcut" ] || ln -s "$skin" "$2/knobcut"
    [ -e "$2/allegro.cfg" ] ||
        printf '[sound]\nmidi_card = CAPT\ncapture_file = %s\n' "$2/capture.txt" >"$2/allegro.cfg"
    # The pointer waits outside the window, so that nothing starts hovered.
    xdotool mousemove 790 590
    cd "$2" && ALLEGRO=$2 exec "$1" >stdout.txt 2>stderr.txt
}

# Starts run_xvfb in the background (xvfb_pid) and exports its DISPLAY.
start_xvfb() {
    local number
    exec {xvfb_fd}< <(run_xvfb 1)
    xvfb_pid=$!
    read -r -t 30 number <&"$xvfb_fd" || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$number
}

# Starts run_program in the background (program_pid) and waits up to 20 s for
# its window (window); on failure, says how the program ended.
start_program_in() { # PROGRAM DIR [SKIN]
    run_program "$@" &
    program_pid=$!
    local deadline=$((SECONDS + 20))
    while [ $SECONDS -lt $deadline ] && kill -0 "$program_pid" 2>/dev/null; do
        window=$(xdotool search --onlyvisible --class kalverosin4 2>/dev/null | head -n 1) && [ -n "$window" ] && return 0
        sleep 0.05
    done
    local status=running code=0
    if ! kill -0 "$program_pid" 2>/dev/null; then
        wait "$program_pid" || code=$?
        status="ended with status $code"
    fi
    echo "no window from $1 ($status): $(cat "$2/stdout.txt" "$2/stderr.txt" 2>/dev/null)" >&2
    return 1
}

# ---------------------------------------------------------------------------
# The pointer, for scripts that have started the program (window set).

now_ns() { date +%s%N; }

# Polls a command until it succeeds; fails once the deadline (in seconds) has passed.
wait_for() { # SECONDS COMMAND...
    local deadline=$(($(now_ns) + $1 * 1000000000))
    shift
    until "$@"; do
        [ "$(now_ns)" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

move() { xdotool mousemove --window "$window" "$1" "$2"; }

# The panel's places by name, from the program's own table: PICTURES layout.
read_layout() { # PICTURES
    local pictures
    pictures=$(realpath "$1")
    panel_layout=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && "$pictures" layout)
}

# Where a named control stands at start (read_layout first): x y, and for a
# fader its length and the x of its knob.
place() { # NAME
    awk -v name="$1" '$1 == name { $1 = ""; print substr($0, 2); found = 1 } END { exit !found }' <<<"$panel_layout" ||
        { echo "no place called $1 on the panel" >&2; return 1; }
}

# The pointer on the row binding strip, where it hovers nothing.
park() {
    local x y
    read -r x y <<<"$(place row-binding)"
    move $((x + 125)) $((y + 3))
}

# True when the 5 x 5 area (or W x H) at window position (x, y) shows the area
# at (bx, by) of FILE: a skin file's name, or a picture's absolute path.
shows() { # X Y FILE BX BY [W H]
    local X Y file=$3
    eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^[XY]=')"
    [[ $file = /* ]] || file=$(dirname "${BASH_SOURCE[0]}")/../knobcut/$file
    set -- $(($1 + X)) $(($2 + Y)) "$file" "${@:4}"
    xwd -root -silent | python3 "$(dirname "${BASH_SOURCE[0]}")/screen_match.py" "$@"
}

# A move to the same place makes no motion event; a pixel aside first makes sure there is one.
hover_once() { # X Y then what shows takes
    move $(($1 + 1)) "$2"
    move "$1" "$2"
    sleep 0.05
    shows "${@:3}"
}

# Moves the pointer onto (x, y) until the area named by the other arguments
# shows the hovered look. Moves made during the program's start-up pause reach
# it wrongly scaled, so the first hover is also the sign that the main loop runs.
hover() { wait_for 20 hover_once "$@" || { echo "no hover look at ($1, $2)" >&2; return 1; }; }

button_hovered() { hover $(($1 + 7)) $(($2 + 7)) "$1" "$2" button_15x15_t_up.bmp 0 0; }

# Holds the 15 x 15 button at (left, top), found in its up look, down until
# COMMAND succeeds. The program reads
# the pointer once a frame (20 ms): a release closer than that to the next press
# is no release to it, and a button ignores presses for 10 frames after it
# toggled. So each release is followed by 0.15 s, and a press whose effect has
# not shown within 2 s is let go and made again.
press_until() { # LEFT TOP COMMAND...
    local left=$1 top=$2
    shift 2
    button_hovered "$left" "$top" || return 1
    local deadline=$(($(now_ns) + 20000000000))
    while [ "$(now_ns)" -lt "$deadline" ]; do
        xdotool mousedown 1
        if wait_for 2 "$@"; then
            xdotool mouseup 1
            sleep 0.15
            return 0
        fi
        xdotool mouseup 1
        sleep 0.15
        "$@" && return 0
    done
    return 1
}
