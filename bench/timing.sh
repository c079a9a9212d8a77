#!/usr/bin/env bash
# Timing benchmark, run by hand: the real program under an Xvfb of its own,
# played with xdotool, its MIDI recorded by the capture driver.
#   A: initial settings (120 BPM, RATE 16), transport running, pointer at rest.
#   B: 249 BPM, every row at RATE 64, a velocity fader dragged back and forth
#      all the time.
#   C: as B, with the pointer at rest (run it with BENCH_SCENARIOS="c").
#   S: the transport stopped, pointer at rest; M: stopped, the pointer swung
#      across a fader without pressing it. Only the CPU share is reported.
#   Following a master (follow_clock), whose clocks bench/master_clock writes
#   to the program's capture_input: F120 and F249 at RATE 16, F120X64 and
#   F249X64 at RATE 64, FJUMP a jump from 120 to 140 BPM at RATE 64 halfway;
#   each reports how late the steps leave after the master wrote their clock.
#   FLOOD: a master writing clocks, Song Positions or bytes of every kind as
#   fast as the FIFO takes them; how long SIGTERM and EXIT take to end it.
# Each reports the lateness of every message against the tick grid fitted to
# the capture, the steps expected against the steps sent, and the program's
# CPU share.
#
# Usage: bench/timing.sh [PROGRAM [SECONDS]]   (build/kalverosin4, 60 s)
# BENCH_KEEP=1 keeps the working directory with the captures.
# BENCH_SCENARIOS="a" runs only some scenarios (default "a b"; the others: c,
# f120, f249, f120x64, f249x64, fjump, flood, s, m).
# BENCH_CLOCK=1 switches MIDI clock out on and reports its intervals.
# BENCH_SAVE_POWER=1 switches save_power on.
# BENCH_SWING=S switches swing on at S % (50 to 75), seeded through a panel file;
# the steps are then measured against their swung moments.
# BENCH_NO_RT=1 runs the program without the right to real-time priority.
# A program built with -DKALVEROSIN_BENCH=ON also notes when each tick callback
# ran: the timer's own lateness and drift are then reported apart.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
. "$root/scripts/packages.sh"
. "$root/scripts/xvfb.sh"
install_missing_packages xvfb xdotool x11-utils x11-apps python3

program=$(realpath "${1:-$root/build/kalverosin4}")
seconds=${2:-60}
if [ ! -x "$program" ] || [ ! -x "$(dirname "$program")/tools/pictures" ]; then
    echo "No program and tools at $program: build them first (cmake -S . -B build && cmake --build build)" >&2
    exit 1
fi
read_layout "$(dirname "$program")/tools/pictures"

work=$(mktemp -d /tmp/bench-timing-XXXXXX)
xvfb_pid=
program_pid=
window=
capture=

# ---------------------------------------------------------------------------
# Waiting, processes

program_ended() {
    local state
    state=$(awk '{print $3}' "/proc/$program_pid/stat" 2>/dev/null) || return 0
    [ "$state" = Z ]
}

# Stops the program by its process id if it still runs; its exit status.
stop_program() {
    [ -n "$program_pid" ] || return 0
    program_ended || kill -TERM "$program_pid" 2>/dev/null || true
    local status=0
    wait "$program_pid" 2>/dev/null || status=$?
    program_pid=
    return "$status"
}

cleanup() {
    stop_program || true
    if [ -n "$xvfb_pid" ]; then
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    if [ "${BENCH_KEEP:-0}" = 1 ]; then echo "Captures kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

fail() {
    echo "timing: $*" >&2
    exit 1
}

# The program in a working directory of its own (scripts/xvfb.sh), recording
# its MIDI through the capture driver; where its window is.
start_program() {
    local dir=$1 launch=$program
    capture=$dir/capture.txt
    mkdir -p "$dir"
    printf '[sound]\nmidi_card = CAPT\ncapture_file = %s\n' "$capture" >"$dir/allegro.cfg"
    [ -n "${2:-}" ] && printf 'capture_input = %s\n[kalverosin4]\nfollow_clock = yes\n' "$2" >>"$dir/allegro.cfg"
    [ "${BENCH_CLOCK:-0}" = 1 ] && printf '[kalverosin4]\nmidi_clock = yes\n' >>"$dir/allegro.cfg"
    [ "${BENCH_SAVE_POWER:-0}" = 1 ] && printf '[kalverosin4]\nsave_power = yes\n' >>"$dir/allegro.cfg"
    if [ -n "${BENCH_SWING:-}" ]; then
        printf '[kalverosin4]\nswing = yes\nremember_panel = yes\npanel_file = %s\n' "$dir/panel" >>"$dir/allegro.cfg"
        printf 'kalverosin4-panel 2\nswing %s\nend\n' "$BENCH_SWING" >"$dir/panel"
    fi
    if [ "${BENCH_NO_RT:-0}" = 1 ]; then
        launch=$dir/without-realtime-priority
        printf '#!/bin/sh\nexec setpriv --bounding-set=-sys_nice prlimit --rtprio=0 "%s"\n' "$program" >"$launch"
        chmod +x "$launch"
    fi
    KALVEROSIN_TICK_STAMPS=$dir/ticks.txt start_program_in "$launch" "$dir" || fail "no window appeared"
}

# ---------------------------------------------------------------------------
# Pointer and screen (the rest is in scripts/xvfb.sh)

# The knob's border is the same in both looks; its face is not. The pointer
# holds it low enough that its sprite leaves the compared area alone.
knob_hovered_once() { hover_once $(($1 + 4)) $(($2 + 12)) $(($1 + 1)) $(($2 + 2)) faderknob_15x15_t_tx.bmp 1 2; }

# Grabs the knob at (kx, ky) a few pixels in from its left edge and drags it
# far right, until it shows (still held) at the end of its track.
drag_once() {
    local kx=$1 ky=$2 end_x=$3
    knob_hovered_once "$kx" "$ky" || return 1
    # The press must reach a frame before the pointer leaves the knob; a drag
    # that missed it is let go and made again (after a release the program can see).
    xdotool mousedown 1 sleep 0.1 mousemove --window "$window" $((kx + 30)) $((ky + 12)) \
        sleep 0.05 mousemove --window "$window" 635 $((ky + 12))
    local done=0
    wait_for 2 shows $((end_x + 1)) $((ky + 2)) faderknob_15x15_t_tx.bmp 1 2 && done=1
    xdotool mouseup 1
    sleep 0.15
    [ "$done" = 1 ]
}

# A fader with its track at (x, y), its knob at knob_x, dragged fully right.
drag_to_end() {
    local x=$1 y=$2 length=$3 knob_x=$4
    wait_for 20 drag_once "$knob_x" "$y" $((x + length - 15)) || fail "could not drag the fader at ($x, $y)"
}

captured_lines() { [ -f "$capture" ] && [ "$(wc -l <"$capture")" -ge "$1" ]; }

press_startstop() { press_until $(place startstop) captured_lines 12 || fail "STARTSTOP did not start the transport"; }

# EXIT, held until the program has ended; SIGTERM by its id if it does not.
press_exit() {
    xdotool mouseup 1
    sleep 0.15
    press_until $(place exit) program_ended || echo "EXIT did not end the program; stopping it by SIGTERM" >&2
    local status=0
    stop_program || status=$?
    echo "program exit status $status"
}

# The fader at (fx, y) swings across most of its track, 16 pixels every 10 ms,
# so that every frame (20 ms) sees the knob somewhere new.
swing_fader_until() {
    local fx=$1 y=$2 length=$3 until_ns=$4 x
    local low=$((fx + 10)) high=$((fx + length - 6))
    local moves=()
    for x in $(seq "$low" 16 "$high") $(seq $((high - 16)) -16 $((low + 16))); do
        moves+=(mousemove --window "$window" "$x" "$y" sleep 0.01)
    done
    while [ "$(now_ns)" -lt "$until_ns" ]; do xdotool "${moves[@]}"; done
}

# ---------------------------------------------------------------------------
# Measuring

# The wall clock, the CPU ticks (utime + stime) of the program and of the X
# server and, per thread of the program, the scheduler's account: time run and
# time spent waiting for a CPU (ns), runs, and how often the thread gave up the
# CPU itself (blocked) or had it taken away.
cpu_sample() {
    local task
    echo "wall $(now_ns)"
    echo "pid $program_pid"
    echo "process $(awk '{print $14 + $15}' "/proc/$program_pid/stat")"
    echo "xserver $(awk '{print $14 + $15}' "/proc/$xvfb_pid/stat")"
    for task in /proc/"$program_pid"/task/*; do
        echo "thread ${task##*/} $(cat "$task/schedstat")" \
            "$(awk '/^(non)?voluntary_ctxt_switches/ {printf "%s ", $2}' "$task/status")"
    done
}

cpu_report() {
    awk -v hz="$(getconf CLK_TCK)" '
        FNR == NR && $1 == "wall" { w0 = $2 }
        FNR == NR && $1 == "pid" { pid = $2 }
        FNR == NR && $1 == "process" { p0 = $2 }
        FNR == NR && $1 == "xserver" { x0 = $2 }
        FNR == NR && $1 == "thread" { r0[$2] = $3; q0[$2] = $4; n0[$2] = $5; v0[$2] = $6; i0[$2] = $7 }
        FNR == NR { next }
        $1 == "wall" { w1 = $2 }
        $1 == "process" { p1 = $2 }
        $1 == "xserver" { x1 = $2 }
        $1 == "thread" && ($2 in r0) {
            order[++k] = $2; r1[$2] = $3; q1[$2] = $4; n1[$2] = $5; v1[$2] = $6; i1[$2] = $7
        }
        END {
            wall = (w1 - w0) / 1e9
            printf "CPU over %.1f s (utime + stime, %% of one core): program %.1f %%, Xvfb %.1f %%\n",
                wall, 100 * (p1 - p0) / hz / wall, 100 * (x1 - x0) / hz / wall
            for (i = 1; i <= k; i++) {
                t = order[i]
                runs = n1[t] - n0[t]
                printf "  thread %s%s: CPU %.1f %%, %.0f runs/s (blocked %.0f/s, preempted %.0f/s), " \
                       "waiting for a CPU %.2f %% of the time, %.1f us per run\n",
                    t, t == pid ? " (main)" : "", (r1[t] - r0[t]) / 1e7 / wall, runs / wall,
                    (v1[t] - v0[t]) / wall, (i1[t] - i0[t]) / wall,
                    (q1[t] - q0[t]) / 1e7 / wall, runs ? (q1[t] - q0[t]) / 1e3 / runs : 0
            }
        }' "$1" "$2"
}

analyse() {
    local ticks=()
    [ -s "$(dirname "$capture")/ticks.txt" ] && ticks=(--ticks "$(dirname "$capture")/ticks.txt")
    python3 "$here/analyse_capture.py" "$capture" --tempo "$1" --step-ticks "$2" "${ticks[@]}" --swing "${BENCH_SWING:-50}" --title "$3"
}

# ---------------------------------------------------------------------------
# Scenarios

scenario_a() {
    start_program "$work/a"
    press_startstop
    park
    cpu_sample >"$work/a/cpu.before"
    sleep "$seconds"
    cpu_sample >"$work/a/cpu.after"
    press_exit
    analyse 120 12 "A: 120 BPM, every row at RATE 16, pointer at rest, ${seconds} s"
    cpu_report "$work/a/cpu.before" "$work/a/cpu.after"
}

# The velocity row's third line is the one the untouched step buttons select,
# so its drag shows in the Note On velocities. C: the same tempo and rates,
# the pointer at rest: what the moving pointer costs.
fast_rows_and_start() {
    start_program "$work/$1"
    button_hovered $(place startstop)
    drag_to_end $(place speed-tens-fader.knob)
    drag_to_end $(place speed-units-fader.knob)
    local row
    for row in upper-controller-row lower-controller-row note-row velocity-row; do
        drag_to_end $(place "$row.rate-fader")
    done
    press_startstop
}

scenario_b() {
    fast_rows_and_start b
    local fader_x fader_y length knob_x
    read -r fader_x fader_y length knob_x <<<"$(place velocity-row.line-3-fader)"
    wait_for 20 knob_hovered_once "$knob_x" "$fader_y" || fail "no hover look on the velocity fader"
    xdotool mousedown 1
    sleep 0.1  # the swing itself shows whether the knob was taken: the velocities in the capture
    cpu_sample >"$work/b/cpu.before"
    swing_fader_until "$fader_x" $((fader_y + 12)) "$length" $(($(now_ns) + seconds * 1000000000))
    cpu_sample >"$work/b/cpu.after"
    press_exit
    analyse 249 3 "B: 249 BPM, every row at RATE 64, velocity fader dragged, ${seconds} s"
    cpu_report "$work/b/cpu.before" "$work/b/cpu.after"
}

scenario_c() {
    fast_rows_and_start c
    park
    cpu_sample >"$work/c/cpu.before"
    sleep "$seconds"
    cpu_sample >"$work/c/cpu.after"
    press_exit
    analyse 249 3 "C: 249 BPM, every row at RATE 64, pointer at rest, ${seconds} s"
    cpu_report "$work/c/cpu.before" "$work/c/cpu.after"
}

# Stopped: what the program costs while it only waits for the user.
scenario_s() {
    start_program "$work/s"
    button_hovered $(place startstop)
    park
    cpu_sample >"$work/s/cpu.before"
    sleep "$seconds"
    cpu_sample >"$work/s/cpu.after"
    echo "S: stopped, pointer at rest, ${seconds} s"
    cpu_report "$work/s/cpu.before" "$work/s/cpu.after"
    press_exit
}

scenario_m() {
    start_program "$work/m"
    button_hovered $(place startstop)
    local fader_x fader_y length knob_x
    read -r fader_x fader_y length knob_x <<<"$(place velocity-row.line-3-fader)"
    cpu_sample >"$work/m/cpu.before"
    swing_fader_until "$fader_x" $((fader_y + 12)) "$length" $(($(now_ns) + seconds * 1000000000))
    cpu_sample >"$work/m/cpu.after"
    echo "M: stopped, the pointer swung across a fader, ${seconds} s"
    cpu_report "$work/m/cpu.before" "$work/m/cpu.after"
    park
    press_exit
}

echo "machine: $(nproc) CPUs, $(grep -m 1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(uname -r)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "program: $program"
echo "options: clock ${BENCH_CLOCK:-0}, save power ${BENCH_SAVE_POWER:-0}," \
    "without real-time priority ${BENCH_NO_RT:-0}"
start_xvfb
# A master at BPM (BPM_AFTER from halfway on) for the length of the run; every
# row at RATE 64 where STEP_TICKS is 3. No STARTSTOP: the master's Start starts.
follow_master() { # NAME BPM STEP_TICKS [BPM_AFTER]
    local dir=$work/$1 bpm=$2 step_ticks=$3 after=${4:-}
    mkdir -p "$dir"
    mkfifo "$dir/master.fifo"
    start_program "$dir" "$dir/master.fifo"
    button_hovered $(place startstop)
    local row
    if [ "$step_ticks" = 3 ]; then
        for row in upper-controller-row lower-controller-row note-row velocity-row; do
            drag_to_end $(place "$row.rate-fader")
        done
    fi
    park
    local change=()
    [ -n "$after" ] && change=("$after" $((seconds / 2)))
    cpu_sample >"$dir/cpu.before"
    "$(dirname "$program")/bench/master_clock" "$dir/master.fifo" "$dir/master.txt" "$seconds" "$bpm" "${change[@]}" ||
        fail "the master could not play"
    cpu_sample >"$dir/cpu.after"
    press_exit
    python3 "$here/analyse_follow.py" "$dir/master.txt" "$capture" --step-ticks "$step_ticks" --swing "${BENCH_SWING:-50}" \
        ${after:+--change-at $((seconds / 2))} --title "$1: following a master at $bpm${after:+ then $after} BPM, a step every $step_ticks ticks, ${seconds} s"
    cpu_report "$dir/cpu.before" "$dir/cpu.after"
}

scenario_f120() { follow_master f120 120 12; }
scenario_f249() { follow_master f249 249 12; }
scenario_f120x64() { follow_master f120x64 120 3; }
scenario_f249x64() { follow_master f249x64 249 3; }
scenario_fjump() { follow_master fjump 120 3 140; }

# A master flooding the capture input with the bytes given in hexadecimal, two
# seconds long; then the program is ended by SIGTERM or EXIT, and timed.
flood_and_end() { # NAME HEX sigterm|exit
    local dir=$work/$1
    mkdir -p "$dir"
    mkfifo "$dir/master.fifo"
    start_program "$dir" "$dir/master.fifo"
    park
    python3 -c 'import os, sys
chunk = bytes.fromhex(sys.argv[2]) * (4096 // len(bytes.fromhex(sys.argv[2])))
out = os.open(sys.argv[1], os.O_WRONLY)
try:
    while True: os.write(out, chunk)
except OSError: pass' "$dir/master.fifo" "$2" &
    local flood=$! asked
    sleep 2
    [ "$3" = exit ] && button_hovered $(place exit)
    asked=$(now_ns)
    if [ "$3" = exit ]; then xdotool mousedown 1; else kill -TERM "$program_pid"; fi
    local polls=0
    until program_ended || [ $((polls += 1)) -gt 4000 ]; do sleep 0.005; done
    echo "$1: ended $((($(now_ns) - asked) / 1000000)) ms after $3$(program_ended || echo ', or never')"
    [ "$3" = exit ] && xdotool mouseup 1
    stop_program || true
    wait "$flood" 2>/dev/null || true
}

scenario_flood() {
    local noise
    noise=$(python3 -c 'print(bytes(i * 7919 % 251 for i in range(4096)).hex())')
    flood_and_end flood-clocks "fa$(printf 'f8%.0s' $(seq 63))" sigterm
    flood_and_end flood-positions f27f7f sigterm
    flood_and_end flood-positions-exit f27f7f exit
    flood_and_end flood-noise "$noise" sigterm
    flood_and_end active-sensing-exit fe exit
}

for scenario in ${BENCH_SCENARIOS:-a b}; do
    "scenario_$scenario"
    echo
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
