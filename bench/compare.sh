#!/usr/bin/env bash
# Two builds measured in the same hour, interleaved: for each scenario, once the
# 1-minute load average is below BENCH_LOAD (1.0), bench/timing.sh runs the
# "before" program and the "after" one, each with and without real-time
# priority, for SECONDS; the wakeprobe floor of the hour is taken first.
#
# Usage: bench/compare.sh BEFORE_PROGRAM AFTER_PROGRAM [SECONDS [SCENARIOS]]
#   (60 s, scenarios "a b c"); reports go to stdout, one after another.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
before=$1 after=$2 seconds=${3:-60} scenarios=${4:-a b c}
limit=${BENCH_LOAD:-1.0}

quiet() {
    until awk -v limit="$limit" '{ exit !($1 < limit) }' /proc/loadavg; do sleep 10; done
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
}

probe=$(mktemp /tmp/wakeprobe-XXXXXX)
trap 'rm -f "$probe"' EXIT
cc -O2 -o "$probe" "$here/../../shared/tools/wakeprobe/wakeprobe.c" -lpthread 2>/dev/null ||
    cc -O2 -o "$probe" "${WAKEPROBE_SOURCE:?set WAKEPROBE_SOURCE to wakeprobe.c}" -lpthread
quiet
echo "== wakeprobe both 30"
"$probe" both 30

for scenario in $scenarios; do
    for run in before after before-no-rt after-no-rt; do
        quiet
        echo "== $run, scenario $scenario"
        program=$after
        [ "${run%-no-rt}" = before ] && program=$before
        BENCH_KEEP=${BENCH_KEEP:-0} BENCH_SCENARIOS=$scenario BENCH_NO_RT=$([ "${run%-no-rt}" = "$run" ] && echo 0 || echo 1) \
            "$here/timing.sh" "$program" "$seconds"
    done
done
