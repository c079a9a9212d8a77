#!/usr/bin/env python3
"""How punctually the program followed a master.

Reads the master's log (bench/master_clock: the time each byte was written,
in the capture format) and the program's capture, in which every row steps
on the same ticks. After the master's Start, clock n owns tick 2n; the odd
tick 2n+1 belongs halfway between clocks n and n+1. Reports how late the
first byte of each step left after the clock that owns it (even ticks) and
how far from the midpoint (odd ticks), the steps called for against those
sent, and any step sent before its clock. With --swing S, a step whose moment
the swing moves is measured against that moment: after the clock that precedes
it by its share of the interval to the next clock.

Usage: analyse_follow.py MASTER CAPTURE --step-ticks N [--change-at SECONDS] [--swing S] [--title TEXT]
"""
import argparse
import bisect

from analyse_capture import group_steps, percentile, read_messages, split_at_sweep

START, CLOCK = 0xFA, 0xF8
PAIR_TICKS = 24


def swung_place(tick, percent):
    """The clock a swung step follows, and its share of the interval after it; None when the swing leaves it."""
    u = tick % PAIR_TICKS
    warp = 2 * u * percent if u <= 12 else 24 * percent + 2 * (u - 12) * (100 - percent)
    if warp == 100 * u:
        return None
    return (tick - u) // 2 + warp // 200, (warp % 200) / 200


def read_master(path):
    clocks, started = [], False
    with open(path) as log:
        for line in log:
            microseconds, value = line.split()
            value = int(value, 16)
            started = started or value == START
            if started and value == CLOCK:
                clocks.append(int(microseconds))
    return clocks


def summary(values):
    values = sorted(values)
    if not values:
        return "none"
    return (f"p50 {percentile(values, 0.5):.0f}  p99 {percentile(values, 0.99):.0f}  "
            f"p99.9 {percentile(values, 0.999):.0f}  max {values[-1]:.0f}  (min {values[0]:.0f})")


def analyse(master_path, capture_path, step_ticks, change_at, swing=50):
    clocks = read_master(master_path)
    messages, _ = read_messages(capture_path)
    played, _ = split_at_sweep(messages)
    steps, _ = group_steps(played)
    starts = [step[0][0] for step in steps]
    even, odd, early, odd_after_change, swung = [], [], 0, [], []
    change_clock = bisect.bisect_left(clocks, clocks[0] + change_at * 1e6) if change_at else None
    for k, first in enumerate(starts):
        tick = k * step_ticks
        owner = tick // 2
        if owner >= len(clocks):
            break
        early += first < clocks[owner]
        place = swung_place(tick, swing)
        if place:
            clock, share = place
            if clock + 1 < len(clocks):
                swung.append(first - (clocks[clock] + share * (clocks[clock + 1] - clocks[clock])))
        elif tick % 2 == 0:
            even.append(first - clocks[owner])
        elif owner + 1 < len(clocks):
            off = first - (clocks[owner] + clocks[owner + 1]) / 2
            odd.append(off)
            if change_clock is not None and owner >= change_clock:
                odd_after_change.append((owner - change_clock, off))
    called = (2 * (len(clocks) - 1)) // step_ticks + 1
    return clocks, starts, even, odd, early, called, odd_after_change, swung


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("master")
    parser.add_argument("capture")
    parser.add_argument("--step-ticks", type=int, required=True)
    parser.add_argument("--change-at", type=float, default=0, help="seconds after Start the tempo changed")
    parser.add_argument("--swing", type=int, default=50, help="the SWING fader's value, in %%")
    parser.add_argument("--title", default="following")
    args = parser.parse_args()
    clocks, starts, even, odd, early, called, after, swung = analyse(args.master, args.capture, args.step_ticks,
                                                                      args.change_at, args.swing)
    print(f"== {args.title}")
    print(f"clocks written {len(clocks)}; steps they call for {called}, steps sent {len(starts)}; "
          f"steps sent before the clock that owns them: {early}")
    print(f"steps on a clock, first byte after the clock was written (us): {summary(even)}")
    if odd:
        print(f"steps between clocks, first byte against the midpoint (us): {summary(odd)}")
    if swung:
        print(f"swung steps, first byte against their moment (us): {summary(swung)}")
    if after:
        beats = {}
        for clock, off in after:
            beats.setdefault(clock // 24, []).append(abs(off))
        worst = ", ".join(f"{beat + 1}: {max(offs):.0f}" for beat, offs in sorted(beats.items())[:4])
        late_beats = [beat + 1 for beat, offs in beats.items() if max(offs) > 1000]
        print(f"after the tempo change, worst odd step per beat (us): {worst}; "
              f"beats with one more than 1 ms from its midpoint: {late_beats or 'none'}")

if __name__ == "__main__":
    main()
