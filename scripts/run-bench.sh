#!/usr/bin/env bash
# Runs the timing and resource benchmarks under Wine on a private X display and sound server
# and writes docs/BENCHMARKS.md.
#   scripts/run-bench.sh <wine-prefix> <build-dir> [sources]
# With "sources", only the sounds' hold on the timer thread and the wave file beside the
# built-in click as heard on PulseAudio, runs of 30 s (about 10 minutes), into build/bench/sources.md.
set -euo pipefail
cd "$(dirname "$0")/.."
# Other work on the machine is not stopped; its load at the start goes into the report.
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)

ONLY=${3:-}
OUT=docs/BENCHMARKS.md
WORK=$PWD/build/bench
BEATS=50

# The peer metronome, the plotting library, the second sound server and what the floor
# client is built with, only if missing.
scripts/install-deps.sh --for "make bench" test gtick python3-matplotlib gcc libpulse-dev

# shellcheck source=scripts/testbed-runner.sh
source scripts/testbed-runner.sh
# Logs and sound servers of their own: a test run in this tree may be going on beside it.
runner_select "$1" "$2" "$PWD/build/bench-logs"
rm -rf "$WORK"
mkdir -p "$WORK" docs

# Runs in one prefix share one wineserver and virtual desktop: a second bench run there would
# put its clicks into the recordings, its load into the timings, and end this run's Wine on
# exit. Each run holds the prefix's lock until it ends; another waits for it.
mkdir -p "$(dirname "$PREFIX")"
exec 7>"$PREFIX.bench-lock"
if ! flock -n 7; then
    echo "bench: waiting for the other bench run in $PREFIX to end" >&2
    flock -w 900 7 || { echo "bench: $PREFIX is still in use after 900 s; giving up" >&2; exit 1; }
fi

scripts/wineprefix.sh "$PREFIX"
export WINEPREFIX=$PREFIX WINEDEBUG=-all

# The floor: a plain client of the sound server, built natively; tickora is not involved.
gcc -O2 -Wall -Wextra -o "$WORK/floor_client" bench/floor_client.c -lpulse-simple -lpulse

# Usage: on_server <pulse|pipewire> <command...>
# Runs the command on a test bed of its own (X display, sound server, Wine stopped after).
on_server() {
    local server=$1
    shift
    (
        runner_start_testbed "$server"
        "$@"
    )
}

in_process_timing() {
    echo "bench: in-process tick timing ($BEATS beats at each tempo, about 3 minutes)" >&2
    # Wine's helpers keep inherited pipes open: the output goes to a file, not a pipe.
    # The wave-file tick plays the built-in click's own sound from disk.
    timeout 900 wine "$BUILD_DIR/tick_bench.exe" "$1" "Z:${PWD//\//\\}\\res\\tick.wav" \
        >"$WORK/tick_bench.raw" 2>&1 || {
        echo "bench: tick_bench.exe failed; its output:" >&2
        cat "$WORK/tick_bench.raw" >&2
        return 1
    }
    tr -d '\r' <"$WORK/tick_bench.raw" >"$WORK/tick_bench.md"
    # Let this program's Wine processes end before the next part starts its own.
    timeout 60 wineserver -w || true
}

# tickora.exe runs with the environment users get from scripts/run-env.sh, in its Wine process
# only: the recorder and the floor keep theirs.
wine_env_args=()
while IFS= read -r assignment; do
    wine_env_args+=(--wine-env "$assignment")
done < <(env -i sh -c '. scripts/run-env.sh && env' | grep -Ev '^(PWD|SHLVL|_)=')

# Usage: heard_on <name> [e2e_bench.py arguments...]
heard_on() {
    local name=$1
    shift
    echo "bench: end to end on $name: tickora.exe, the floor and gtick" >&2
    timeout 1500 python3 bench/e2e_bench.py --build-dir "$BUILD_DIR" --work-dir "$WORK/$name" \
        --floor "$WORK/floor_client" "${wine_env_args[@]}" "$@" >"$WORK/$name.md"
}

if [[ $ONLY == sources ]]; then
    on_server pulse in_process_timing 0
    on_server pulse heard_on pulseaudio --sources-only --long-intervals 120
    cat "$WORK/tick_bench.md" "$WORK/pulseaudio.md" >"$WORK/sources.md"
    printf '\nLoad average at the start / end (1, 5, 15 min): %s / %s; %d s.\n' \
        "$load_at_start" "$(cut -d' ' -f1-3 /proc/loadavg)" "$SECONDS" >>"$WORK/sources.md"
    echo "bench: wrote $WORK/sources.md in $SECONDS s" >&2
    exit 0
fi
# PulseAudio's run also times the start-up and the sources; PipeWire's tries the Wine
# process's latency.
on_server pulse in_process_timing "$BEATS"
on_server pulse heard_on pulseaudio --startup-md "$WORK/startup.md" --sources
on_server pipewire heard_on pipewire --latency-sweep 20,40,80
# Debian's python3, for which python3-matplotlib is installed (another python3 may come first
# on PATH).
/usr/bin/python3 bench/plot_heard.py "$WORK/heard-240.png" "$WORK/pulseaudio/heard.json" \
    "$WORK/pipewire/heard.json"
load_at_end=$(cut -d' ' -f1-3 /proc/loadavg)

# Machine facts for the report.
cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
cores=$(nproc)
mem=$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
kernel=$(uname -sr)
wine_version=$(wine --version)
debian=$(cat /etc/debian_version 2>/dev/null || echo unknown)

# The in-process targets, read from tick_bench's tables.
in_process_verdicts=$(awk -F'|' '
    function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }
    /^\| [0-9]+ \| [0-9]+ \|/ {
        tempo = trim($2); p99 = trim($7); missed = trim($9) + 0
        split(trim($8), d, "/"); half = trim(d[1]) + 0; end = trim(d[2]) + 0
        if (p99 + 0 > worst) worst = p99 + 0
        missed_total += missed
        # Drift that grows with the beats shows as an end value well past the half value.
        if ((end < 0 ? -end : end) > (half < 0 ? -half : half) + 1) growing = growing " " tempo
        rows++
    }
    /holds the timer thread/ { in_click = ($0 ~ /Built-in click/) }
    in_click && /^\| maximum of the next/ { click = trim($3) + 0; have_click = 1 }
    in_click && /^\| p99 of the next/ { click_p99 = trim($3) + 0 }
    END {
        printf "- Target: p99 |dev| <= 1 ms at every tempo. %s (worst %.3f ms).\n",
            (rows && worst <= 1) ? "Met" : "NOT met", worst
        printf "- Target: drift does not grow with the beats. %s\n",
            (rows && growing == "") ? "Met (end drift within 1 ms of the half-way drift)." : "NOT met (at" growing " bpm)."
        printf "- Target: no missed beats. %s (%d missed).\n",
            (rows && missed_total == 0) ? "Met" : "NOT met", missed_total
        if (have_click)
            printf "- Target: the built-in click holds the timer thread <= 150 ms. %s (maximum %.1f ms after the first, p99 %.1f ms).\n",
                (click <= 150) ? "Met" : "NOT met", click, click_p99
        else
            print "- Target: the built-in click holds the timer thread <= 150 ms. NOT measured."
    }' "$WORK/tick_bench.md")

{
    printf '# Tickora benchmarks\n\n'
    printf 'Written by `make bench` (scripts/run-bench.sh) on %s.\n\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
    printf '| Machine | |\n|---|---|\n'
    printf '| CPU | %s |\n| Cores | %s |\n| Memory | %s |\n| Kernel | %s |\n' \
        "$cpu_model" "$cores" "$mem" "$kernel"
    printf '| Wine | %s, virtual desktop on Xvfb |\n| Debian | %s |\n' "$wine_version" "$debian"
    printf '| Program run | %s under Wine (WINEARCH=%s) |\n' "$BUILD_DIR" "$WINEARCH"
    printf '| Sound | private PulseAudio, then private PipeWire (pipewire-pulse, wireplumber), each with a null sink at 44.1 kHz; Wine with the environment of scripts/run-env.sh |\n'
    printf '| Load average at the start / end (1, 5, 15 min) | %s / %s |\n\n' "$load_at_start" "$load_at_end"
    printf 'Other work on the machine is not stopped while the benchmarks run, so on a shared '
    printf 'machine the figures vary from run to run; the load average above hints at it.\n\n'
    printf '## In-process tick timing\n\n'
    printf 'bench/TickBench.cpp runs the real control panel and multimedia timer in one process '
    printf 'and stamps each tick with QueryPerformanceCounter when the timer thread calls it '
    printf '(%s intervals per tempo; no sound in the timing runs).\n\n' "$BEATS"
    cat "$WORK/tick_bench.md"
    printf '\n'
    printf 'Deviation = |interval - period| for each interval between ticks. Drift = time of the '
    printf 'last tick - first tick - n x period, after half and after all n intervals; drift that '
    printf 'does not grow means the due times do not accumulate error. Missed = intervals of 1.5 '
    printf 'periods or more. The next tables play the built-in click, then res/tick.wav chosen as the '
    printf 'wave file, from the timer thread at 240 bpm for 100 ticks each and time how long each '
    printf 'tick holds that thread. The last table times, in the same way, the check that each '
    printf 'wave tick used to make before its two sound calls (the file'"'"'s attributes, then the '
    printf 'device opened for its format and closed), which the sound thread now makes about once '
    printf 'a second: a wave tick'"'"'s hold before was about that plus its own.\n\n'
    printf '%s\n\n' "$in_process_verdicts"
    printf '## As heard, on each sound server\n\n'
    printf 'Each sound server below ran tickora.exe at 40, 70 and 120 bpm for 60 intervals each, '
    printf 'and at 240 bpm three times for 1 minute quiet and once for 1 minute with a core busy; '
    printf 'the floor the same 240 bpm runs, gtick one quiet one. The runs are 1 minute, not 2, '
    printf 'so that both servers fit in `make bench'"'"'s 45 minutes; a few late beats decide a '
    printf 'p99, so quiet runs are compared by the median of three.\n\n'
    printf '![Each beat'"'"'s deviation at 240 bpm on each server, quiet and with a core busy](heard-240.png)\n\n'
    printf 'Each point is one interval between beats as heard, minus the period, drawn at the '
    printf 'time of its second beat; the dashed lines are +-6 ms.\n\n'
    cat "$WORK/pulseaudio.md" "$WORK/pipewire.md" "$WORK/startup.md"
    printf 'scripts/run-bench.sh took %d s (test beds, both sound servers, all programs and runs).\n' "$SECONDS"
} >"$OUT.tmp"
mv -f "$WORK/heard-240.png" docs/heard-240.png
mv -f "$OUT.tmp" "$OUT"
echo "bench: wrote $OUT in $SECONDS s" >&2
