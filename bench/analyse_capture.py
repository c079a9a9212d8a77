#!/usr/bin/env python3
"""How punctually a captured MIDI run left the program.

Reads a capture file (one line per raw byte: monotonic microseconds, a space,
the byte in hex) of a run in which every row steps on the same ticks, so that
each step ends with exactly one Note On. Reports the lateness of every message
against the tick grid fitted to the capture, the steps expected against the
steps sent, and the clock the capture implies.

With MIDI clock on, the clocks (F8) are measured apart: the intervals a
follower derives its tempo from. With --ticks, a file of the tick callback's own
monotonic stamps (nanoseconds, one per line; benchmark builds write it), the
timer's lateness and drift are reported apart from the main loop's.

With --swing S (the SWING fader, in %), each step is measured against its
swung moment, and the first bytes of swung steps are reported apart from the
straight ones.

Usage: analyse_capture.py CAPTURE --tempo BPM --step-ticks N [--ticks FILE] [--swing S] [--title TEXT]
"""
import argparse
import math
import sys

TIMER_UNITS_PER_SECOND = 1193181
TIMER_UNITS_PER_MINUTE = 71590860
TICKS_PER_BEAT = 48
ALL_NOTES_OFF = 0x7B
TIMING_CLOCK = 0xF8
TICKS_PER_CLOCK = 2
LATE_LIMITS = (1000, 2000, 5000)
SWING_PAIR_TICKS = 24


def swing_delay_microseconds(tick, percent, tempo):
    """How much later than its tick a step of that tick leaves, swung (timer units rounded up, as the program does)."""
    period = TIMER_UNITS_PER_MINUTE // (tempo * TICKS_PER_BEAT)
    u = tick % SWING_PAIR_TICKS
    warp = 2 * u * percent if u <= 12 else 24 * percent + 2 * (u - 12) * (100 - percent)
    units = -(-warp * period // 100) - u * period
    return units * 1e6 / TIMER_UNITS_PER_SECOND


def nominal_tick_microseconds(tempo):
    period_units = TIMER_UNITS_PER_MINUTE // (tempo * TICKS_PER_BEAT)
    return period_units * 1e6 / TIMER_UNITS_PER_SECOND


def read_messages(path):
    """Messages as (time of the status byte, [bytes]), and the times of the timing clocks."""
    messages, clocks = [], []
    with open(path) as capture:
        for line in capture:
            fields = line.split()
            if len(fields) != 2:
                continue
            microseconds, value = int(fields[0]), int(fields[1], 16)
            if value >= 0xF8 or value in (0xFA, 0xFC):
                if value == TIMING_CLOCK:
                    clocks.append(microseconds)
                continue
            if value >= 0x80 or not messages:
                messages.append((microseconds, []))
            messages[-1][1].append(value)
    return messages, clocks


# How far before the fitted tick grid a step may leave (microseconds).
GRID_SLACK = 50


def read_ticks(path):
    with open(path) as stamps:
        return [int(line) / 1000 for line in stamps if line.strip()]


def grid_lateness(times):
    """Drift (fitted period) and lateness of a run of equally spaced events against their lower-hull grid."""
    points = list(enumerate(times))
    origin, period = fit_grid(points)
    return period, sorted(t - (origin + period * i) for i, t in points)


def split_at_sweep(messages):
    """The played messages, and the time the first all-notes-off sweep began (the stop)."""
    for index, (time, data) in enumerate(messages):
        if data[0] & 0xF0 == 0xB0 and len(data) > 1 and data[1] == ALL_NOTES_OFF:
            return messages[:index], time
    return messages, None


def group_steps(messages):
    """Each step's messages, up to and including its Note On."""
    steps, current = [], []
    for message in messages:
        current.append(message)
        if message[1][0] & 0xF0 == 0x90:
            steps.append(current)
            current = []
    return steps, current


def step_indices(starts, period, beat):
    """Grid index of each step.

    The program sends every step it owes, late ones included, unless it has
    fallen more than a beat behind; only then does it skip ticks. So a step
    takes the next index unless more than a beat has passed since the last one.
    """
    indices = [0]
    for before, after in zip(starts, starts[1:]):
        gap = after - before
        indices.append(indices[-1] + (round(gap / period) if gap > beat + period else 1))
    return indices


def steps_on_tick_grid(starts, ticks, step_ticks, delay=lambda k: 0):
    """Grid index and grid time of each step, and the step period, from the tick callback's own stamps.

    The stamps give the tick grid (the line below them that is closest to them).
    A step never leaves before its own position on that grid (GRID_SLACK allows
    for the line lying a few microseconds after the true deadlines), and after a
    stall the program sends of each row only its newest owed step: so a step
    belongs to the latest position before it left, unless the steps after it
    leave no room for that (a stall's owed ticks handed over in more than one
    pass give more than one late step). Counting the stamps before each step
    instead would be thrown off by a timer thread that stamps a tick late.
    A swung step belongs to the latest position whose swung moment (delay(k)
    after it) lies before it left.
    """
    tick_origin, tick_period = fit_grid(list(enumerate(ticks, start=1)))
    step_period = tick_period * step_ticks
    indices = [math.floor((start - tick_origin + GRID_SLACK) / step_period) for start in starts]
    for i, start in enumerate(starts):
        while indices[i] > 0 and tick_origin + step_period * indices[i] + delay(indices[i]) - GRID_SLACK > start:
            indices[i] -= 1
    indices[0] = 0  # the first step leaves at the press, off the timer's phase
    for i in range(len(starts) - 2, 0, -1):
        indices[i] = min(indices[i], indices[i + 1] - 1)
    return indices, [tick_origin + step_period * k for k in indices], step_period


def cross(o, a, b):
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])


def lower_hull(points):
    hull = []
    for point in sorted(points):
        while len(hull) >= 2 and cross(hull[-2], hull[-1], point) <= 0:
            hull.pop()
        hull.append(point)
    return hull


def fit_grid(points):
    """The line below every point that is closest to them on average (least total lateness).

    Such a line runs along the edge of the lower convex hull above the mean index:
    no message is early against it, and the punctual ones define it.
    """
    hull = lower_hull(points)
    if len(hull) == 1:
        return hull[0][1], 0.0
    mean_index = sum(p[0] for p in points) / len(points)
    for left, right in zip(hull, hull[1:]):
        if left[0] <= mean_index <= right[0]:
            slope = (right[1] - left[1]) / (right[0] - left[0])
            return left[1] - slope * left[0], slope
    left, right = hull[-2], hull[-1]
    slope = (right[1] - left[1]) / (right[0] - left[0])
    return left[1] - slope * left[0], slope


def least_squares_slope(points):
    n = len(points)
    mean_x = sum(p[0] for p in points) / n
    mean_y = sum(p[1] for p in points) / n
    sxx = sum((p[0] - mean_x) ** 2 for p in points)
    sxy = sum((p[0] - mean_x) * (p[1] - mean_y) for p in points)
    return sxy / sxx


def percentile(sorted_values, fraction):
    if not sorted_values:
        return float("nan")
    rank = max(0, math.ceil(fraction * len(sorted_values)) - 1)
    return sorted_values[rank]


def shape(step):
    return tuple(data[0] & 0xF0 for _, data in step)


def analyse(path, tempo, step_ticks, ticks_path=None, swing=50):
    messages, clocks = read_messages(path)
    played, stop_time = split_at_sweep(messages)
    steps, leftover = group_steps(played)
    if len(steps) < 3:
        sys.exit(f"{path}: only {len(steps)} steps captured")
    tick = nominal_tick_microseconds(tempo)
    nominal = tick * step_ticks
    starts = [step[0][0] for step in steps]
    end = stop_time if stop_time is not None else played[-1][0]
    # Ticks counted from the press of STARTSTOP, which sends the first step itself.
    ticks = [t for t in read_ticks(ticks_path) if starts[0] < t < end] if ticks_path else []
    if len(ticks) > 2:
        indices, grid, period = steps_on_tick_grid(
            starts, ticks, step_ticks, lambda k: swing_delay_microseconds(k * step_ticks, swing, tempo))
        delays = [swing_delay_microseconds(k * step_ticks, swing, tempo) for k in indices]
        points = list(zip(indices[1:], starts[1:]))
        origin = grid[0]
        grid = [g + d for g, d in zip(grid, delays)]
    else:
        indices = step_indices(starts, nominal, tick * TICKS_PER_BEAT)
        delays = [swing_delay_microseconds(k * step_ticks, swing, tempo) for k in indices]
        # The first step is sent at the press of STARTSTOP, off the timer's phase: it is reported apart.
        points = [(k, t - d) for k, t, d in zip(indices[1:], starts[1:], delays[1:])]
        origin, period = fit_grid(points)
        grid = [origin + period * k + d for k, d in zip(indices, delays)]
    lateness = sorted(t - grid[i] for i, step in enumerate(steps) if i > 0 for t, _ in step)
    first_bytes = sorted(starts[i] - grid[i] for i in range(1, len(steps)))
    swung_first_bytes = sorted(starts[i] - grid[i] for i in range(1, len(steps)) if delays[i] > 0)
    straight_first_bytes = sorted(starts[i] - grid[i] for i in range(1, len(steps)) if delays[i] == 0)
    spreads = sorted(step[-1][0] - step[0][0] for step in steps)
    duration = end - origin
    shapes = {}
    for step in steps:
        shapes[shape(step)] = shapes.get(shape(step), 0) + 1
    clocks = [t for t in clocks if t < end]
    return {
        "clock_intervals": sorted(b - a for a, b in zip(clocks, clocks[1:])),
        "clock_nominal": tick * TICKS_PER_CLOCK,
        "clock_grid": grid_lateness(clocks) if len(clocks) > 2 else None,
        "tick_nominal": tick,
        "ticks": grid_lateness(ticks) if len(ticks) > 2 else None,
        "steps": len(steps),
        "messages": sum(len(step) for step in steps),
        "leftover": len(leftover),
        "stopped": stop_time is not None,
        "duration": duration,
        "nominal": nominal,
        "period": period,
        "ls_period": least_squares_slope(points),
        "expected_nominal": math.floor(duration / nominal) + 1,
        # A swung step whose moment comes after the stop is dropped with it.
        "expected_fitted": sum(1 for k in range(math.floor(duration / period) + 1)
                               if period * k + swing_delay_microseconds(k * step_ticks, swing, tempo) < duration),
        "index_gaps": indices[-1] + 1 - len(steps),
        "start_offset": starts[0] - origin,
        "lateness": lateness,
        "first_bytes": first_bytes,
        "swung_first_bytes": swung_first_bytes,
        "straight_first_bytes": straight_first_bytes,
        "spreads": spreads,
        "shapes": shapes,
        "late_steps": [sum(1 for i, t in enumerate(starts) if i > 0 and t - grid[i] > limit) for limit in LATE_LIMITS],
        "velocity_changes": sum(1 for a, b in zip(steps, steps[1:]) if a[-1][1][-1] != b[-1][1][-1]),
    }


def report(title, tempo, step_ticks, r):
    late = r["lateness"]
    ppm = (r["period"] / r["nominal"] - 1) * 1e6
    lines = [
        f"== {title}",
        f"tempo {tempo} BPM, a step every {step_ticks} ticks: nominal step period {r['nominal']:.1f} us",
        f"captured {r['duration'] / 1e6:.2f} s from the first step's grid position to the stop"
        + ("" if r["stopped"] else " (no stop sweep: up to the last message)"),
        f"fitted step period {r['period']:.2f} us ({ppm:+.0f} ppm against nominal); "
        f"least squares {r['ls_period']:.2f} us",
        f"steps sent {r['steps']} ({r['messages']} messages), expected {r['expected_nominal']} on the nominal clock, "
        f"{r['expected_fitted']} on the fitted clock; grid positions skipped {r['index_gaps']}",
        f"lateness of {len(late)} messages against the grid (us): p50 {percentile(late, 0.50):.0f}  "
        f"p99 {percentile(late, 0.99):.0f}  p99.9 {percentile(late, 0.999):.0f}  max {late[-1]:.0f}",
        f"lateness of the first byte of {len(r['first_bytes'])} steps (us): "
        f"p50 {percentile(r['first_bytes'], 0.50):.0f}  p99 {percentile(r['first_bytes'], 0.99):.0f}  "
        f"p99.9 {percentile(r['first_bytes'], 0.999):.0f}  max {r['first_bytes'][-1]:.0f}",
        f"first byte to last byte of a step (us): p50 {percentile(r['spreads'], 0.50):.0f}  "
        f"p99 {percentile(r['spreads'], 0.99):.0f}  max {r['spreads'][-1]:.0f}",
        f"first step (sent at the press) {r['start_offset']:.0f} us after its grid position",
        "step shapes: " + ", ".join(f"{' '.join(f'{s:02X}' for s in k)} x{n}" for k, n in r["shapes"].items()),
        "steps whose first message is late by more than "
        + ", ".join(f"{limit // 1000} ms: {n}" for limit, n in zip(LATE_LIMITS, r["late_steps"])),
        f"Note On velocity changed between steps {r['velocity_changes']} times",
    ]
    for kind in ("swung", "straight"):
        late = r[kind + "_first_bytes"]
        if late and r["swung_first_bytes"]:
            lines.append(f"first byte of {len(late)} {kind} steps against their moment (us): p50 {percentile(late, 0.50):.0f}  "
                         f"p99 {percentile(late, 0.99):.0f}  p99.9 {percentile(late, 0.999):.0f}  max {late[-1]:.0f}")
    if r["leftover"]:
        lines.append(f"{r['leftover']} messages after the last Note On, before the stop")
    if r["ticks"]:
        period, late = r["ticks"]
        lines.append(
            f"tick callback, {len(late)} ticks: "
            f"period {(period / r['tick_nominal'] - 1) * 1e6:+.1f} ppm against nominal; "
            f"lateness (us) p50 {percentile(late, 0.5):.0f}  p99 {percentile(late, 0.99):.0f}  "
            f"p99.9 {percentile(late, 0.999):.0f}  max {late[-1]:.0f}")
    gaps = r["clock_intervals"]
    if gaps:
        period, late = r["clock_grid"]
        lines.append(
            f"MIDI clock, {len(gaps) + 1} clocks, nominal interval {r['clock_nominal']:.1f} us: interval (us) "
            f"min {gaps[0]:.0f}  p50 {percentile(gaps, 0.5):.0f}  p99 {percentile(gaps, 0.99):.0f}  "
            f"max {gaps[-1]:.0f}; "
            f"period {(period / r['clock_nominal'] - 1) * 1e6:+.1f} ppm; lateness p99 {percentile(late, 0.99):.0f}  "
            f"max {late[-1]:.0f}")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("capture")
    parser.add_argument("--tempo", type=int, required=True)
    parser.add_argument("--step-ticks", type=int, required=True)
    parser.add_argument("--ticks", help="the tick callback's stamps (benchmark builds)")
    parser.add_argument("--swing", type=int, default=50, help="the SWING fader's value, in %%")
    parser.add_argument("--title", default="capture")
    args = parser.parse_args()
    result = analyse(args.capture, args.tempo, args.step_ticks, args.ticks, args.swing)
    print(report(args.title, args.tempo, args.step_ticks, result))


if __name__ == "__main__":
    main()
