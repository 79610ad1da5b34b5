#!/usr/bin/env python3
"""End-to-end benchmarks of tickora.exe under Wine on one sound server, driven with real keys.

  bench/e2e_bench.py --build-dir build/win64 --work-dir build/bench/pulseaudio \\
      --floor build/bench/floor_client [--latency-sweep 20,40,80] [--startup-md startup.md]
      [--sources | --sources-only]

Expects the test bed of scripts/run-bench.sh: DISPLAY (Xvfb), WINEPREFIX and a private sound
server (PULSE_SERVER, PULSE_SINK=tick, TESTBED_SOUND_SERVER). Prints Markdown sections for
that server to stdout:
  - the beats as heard on the sink's monitor: tickora.exe at 40, 70 and 120 bpm and at
    240 bpm three times quiet and once with a core busy; the floor (a plain client that
    opens a stream per beat, bench/floor_client.c) and the peer gtick at 240 bpm beside it;
  - tickora.exe against the floor, by the medians of the three quiet runs;
  - CPU of the program, of bench/ClickBaseline.cpp (the sound call alone), of the sound
    server's processes and of wineserver;
  - optionally, the sources: tickora.exe's wave-file tick beside its built-in click at
    240 bpm, and the same sound calls from a plain loop (bench/ClickBaseline.cpp);
  - optionally, PULSE_LATENCY_MSEC for the Wine process: the timing and a 40 ms wave file;
  - optionally, start-up time against a bare dialog program, into a file of its own.
Each beat of every run goes to heard.json in the work directory, for bench/plot_heard.py.
"""
import argparse
import contextlib
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import audio  # noqa: E402
import harness  # noqa: E402
from testbed import (CLK_TCK, BusyCore, Program, SoundServer, WineProgram, XDisplay,  # noqa: E402
                     click_in_window, cpu_shares, key, proc_comm, proc_status,
                     wait_wine_idle, wine_prefix_pids, xdotool)

TITLE = "Tickora 1.0"
BARE_TITLE = "Bare Dialog 1.0"
SLOW_TEMPI = (40, 70, 120)
LONG_TEMPO = 240
QUIET_RUNS = 3
# Keys that set the tempo slider when it has the focus: Home is 40, End is 240,
# Page Down adds the page size (10).
TEMPO_KEYS = {40: ["Home"], 70: ["Home"] + ["Next"] * 3, 120: ["Home"] + ["Next"] * 8,
              240: ["End"]}
# A beat this far off its place is heard by a trained ear.
OFF_BY_MS = 6.0
# The wave file that must still be heard at every beat whatever the latency: shorter than
# a long period of the sound server.
SHORT_WAVE_MS = 40
SHORT_WAVE_INTERVALS = 8


def log(msg):
    print("e2e_bench: " + msg, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------- the programs

class Tickora:
    """tickora.exe under Wine, driven like a user at the keyboard: the slider set with Home,
    End and Page Down, Return (the default button) for Start/Stop. The panel's state is read
    back between runs through the test bed's probe, never while a run is measured."""
    name = "tickora.exe"

    def __init__(self, workdir, wine_env, name="tickora"):
        self.app = harness.App(workdir, name, wine_env)
        self.app.wait_ready(60)
        self.pid = self.app.pid

    def set_tempo(self, tempo):
        self.app.set_tempo_keys(*TEMPO_KEYS[tempo])
        self.app.wait_state("%d bpm" % tempo, lambda s: s["readout"] == "%d bpm" % tempo, 5)

    def start(self, beats):
        key("Return")

    def stop(self):
        key("Return")

    def close(self):
        self.app.close()


class Floor:
    """The floor: bench/floor_client.c, which beats by itself for the number of beats asked."""
    name = "floor"

    def __init__(self, exe, click, log_path):
        self.exe, self.click, self.log_path = exe, click, log_path
        self.program = None
        self.pid = None
        self.tempo = LONG_TEMPO

    def set_tempo(self, tempo):
        self.tempo = tempo

    def start(self, beats):
        self.program = Program([self.exe, str(self.tempo), str(beats), self.click], self.log_path)
        self.pid = self.program.pid

    def stop(self):
        self.program.wait_exit(30, "the floor client to end")
        self.program.kill()

    def close(self):
        pass


class SoundLoop:
    """bench/ClickBaseline.cpp: the same sound call as tickora.exe's tick, from a plain loop at
    240 bpm, given a wave file the wave-file tick's two calls. Its first sound, a second
    before the beat, starts the device and is left out."""
    skip_onsets = 1

    def __init__(self, exe, wave, log_path):
        self.exe, self.wave, self.log_path = exe, wave, log_path
        self.name = "loop, " + ("wave file" if wave else "built-in click")
        self.program = None
        self.pid = None

    def set_tempo(self, tempo):
        assert tempo == LONG_TEMPO, "the loop beats at %d bpm only" % LONG_TEMPO

    def start(self, beats):
        args = ["wine", self.exe, str(-(-beats // 4))] + ([self.wave] if self.wave else [])
        self.program = Program(args, self.log_path, cwd=os.path.dirname(self.exe))
        self.pid = self.program.pid

    def stop(self):
        try:
            self.program.wait_exit(60, "the sound loop to end")
        finally:
            self.program.kill()

    def close(self):
        pass


class Gtick:
    """The peer, Debian's gtick (GTK 2, PulseAudio), driven through its window as a user
    would: the tempo typed into its Speed box (emptied with End and BackSpace), Ctrl+S
    (Metronome > Start/Stop) to start and stop. It runs with a HOME of its own, so it starts
    from its defaults every time."""
    name = "gtick"
    TITLE = "GTick"
    # The Speed box's text in window coordinates (the window opens at the root's 0,0).
    SPEED_BOX = (370, 109)

    def __init__(self, xd, home, log_path):
        shutil.rmtree(home, ignore_errors=True)
        os.makedirs(home)
        self.program = Program(["gtick"], log_path, env={"HOME": home})
        self.pid = self.program.pid
        self.window = xd.wait_for_window(self.TITLE, 30, self.program.proc)

    def focus(self):
        # With no window manager, whoever last set the X input focus keeps it (Wine's
        # virtual desktop, after tickora.exe), and GTK does not take it on a click.
        xdotool("windowfocus", self.window)

    def set_tempo(self, tempo):
        self.focus()
        click_in_window(self.window, *self.SPEED_BOX)
        key("End", *["BackSpace"] * 4, delay_ms=30)
        xdotool("type", "--delay", 30, str(tempo))
        key("Tab")
        time.sleep(0.2)

    def start(self, beats):
        self.stop()

    def stop(self):
        self.focus()
        key("ctrl+s")

    def close(self):
        self.program.end(lambda: (self.focus(), key("ctrl+q")), timeout=5)


# ---------------------------------------------------------------------------- as heard

def segment_stats(onsets, period):
    gaps = audio.intervals(onsets)
    signed = [g - period for g in gaps]
    devs = [abs(d) for d in signed]
    return {"clicks": len(onsets), "intervals": len(gaps), "median_dev": audio.median(devs),
            "p99_dev": audio.percentile(devs, 0.99),
            "max_dev": max(devs) if devs else float("nan"),
            "off": sum(1 for d in devs if d > OFF_BY_MS),
            "missed": sum(1 for g in gaps if g >= 1.5 * period),
            "extra": sum(1 for g in gaps if g < 0.5 * period),
            "onsets": onsets, "signed": signed}


def helper_pids(server):
    """{pid: name} of the sound server's processes and wineserver, which work for every beat."""
    found = dict(server.pids())
    for pid in wine_prefix_pids():
        if proc_comm(pid).startswith("wineserver"):
            found[pid] = "wineserver"
    return found


def run_segment(rec, program, tempo, intervals, server=None):
    """Starts, lets intervals + 1 beats sound, stops. Returns the segment's statistics and,
    given the server, the CPU shares of the program and its helpers while it beat."""
    period = 60000.0 / tempo
    program.set_tempo(tempo)
    start_ms = rec.position_ms()
    program.start(intervals + 1)
    started = time.monotonic()
    # The first beat comes at the start or one period after it.
    run_for = (intervals + 1) * period / 1000.0 + 0.3
    cpu = None
    if server:
        # From the third second to the end, away from the key presses and the first sound.
        time.sleep(2.0)
        helpers = helper_pids(server)
        shares = cpu_shares([program.pid] + list(helpers), run_for - 2.3)
        cpu = {"program": shares.get(program.pid, float("nan"))}
        for pid, name in helpers.items():
            cpu[name] = cpu.get(name, 0.0) + shares.get(pid, 0.0)
    time.sleep(max(0.0, started + run_for - time.monotonic()))
    program.stop()
    # Let the last beat finish and reach the capture.
    time.sleep(0.5)
    samples = audio.slice_ms(audio.read_samples(rec.path), start_ms, rec.position_ms())
    stats = segment_stats(audio.find_onsets(samples)[getattr(program, "skip_onsets", 0):], period)
    stats["cpu"] = cpu
    return stats


def warm_up(program):
    if getattr(program, "skip_onsets", 0):
        return
    # A process's first sound starts its audio device and comes late: one short run before
    # measuring keeps that start-up out of the intervals.
    run_segment(Recorderless(), program, LONG_TEMPO, 4)


class Recorderless:
    """Stands in for the recorder in a warm-up, whose sound is not analysed."""
    path = os.devnull

    def position_ms(self):
        return 0.0


def measure(rec, program, runs, server):
    """runs: [(tempo, intervals, busy)]; returns [(tempo, busy, stats)] in order."""
    warm_up(program)
    results = []
    for tempo, intervals, busy in runs:
        log("%s: %d bpm, %d intervals%s" % (program.name, tempo, intervals,
                                             ", one core busy" if busy else ""))
        long_run = tempo == LONG_TEMPO
        if busy:
            with BusyCore():
                time.sleep(1.0)
                stats = run_segment(rec, program, tempo, intervals, server if long_run else None)
        else:
            stats = run_segment(rec, program, tempo, intervals, server if long_run else None)
        results.append((tempo, busy, stats))
    return results


def quiet_long(results):
    return [s for tempo, busy, s in results if tempo == LONG_TEMPO and not busy]


def busy_long(results):
    return next((s for tempo, busy, s in results if tempo == LONG_TEMPO and busy), None)


def median_of(runs, key_name):
    return audio.median([s[key_name] for s in runs])


def off_share(runs):
    return 100.0 * sum(s["off"] for s in runs) / max(1, sum(s["intervals"] for s in runs))


def fmt_ratio(a, b):
    # Below half a sample a deviation is 0 to this analysis (float rounding aside).
    zero = 500.0 / audio.RATE
    if b >= zero:
        return "%.2f" % (a / b)
    return "—" if a < zero else "∞"


def print_heard(heard, server_name):
    print("### As heard\n")
    print("Beats recorded from the sink's monitor (parec, 44.1 kHz, 5 ms capture latency) while "
          "each program beat; tickora.exe and gtick were driven through their windows with "
          "real keys. Deviation = |interval between onsets - period|; off = intervals "
          "deviating by more than %.0f ms, which a trained ear hears; missed = intervals of "
          "1.5 periods or more; extra = intervals under half a period. \"Busy\" runs had one "
          "core kept busy by a plain shell loop. The floor is bench/floor_client.c, a plain "
          "client of this server that opens a stream per beat on an absolute clock, as Wine's "
          "PlaySound does for each tick; gtick %s streams its samples.\n"
          % (OFF_BY_MS, peer_version()))
    head = ["Tempo (bpm)", "Load", "Program", "Intervals", "Median (ms)", "p99 (ms)",
            "Max (ms)", "Off > %.0f ms" % OFF_BY_MS, "Missed", "Extra"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for name, results in heard.items():
        for tempo, busy, s in results:
            print("| %d | %s | %s | %d | %.2f | %.2f | %.2f | %d (%.1f %%) | %d | %d |" % (
                tempo, "busy" if busy else "quiet", name, s["intervals"], s["median_dev"],
                s["p99_dev"], s["max_dev"], s["off"], 100.0 * s["off"] / max(1, s["intervals"]),
                s["missed"], s["extra"]))
    print()
    t, f = heard["tickora.exe"], heard["floor"]
    print("### Against the floor, %d bpm\n" % LONG_TEMPO)
    print("Quiet: the medians of the %d quiet runs of each (off: all their intervals); busy: "
          "the one busy run. Ratio = tickora.exe / floor; at or below 1, tickora.exe is as "
          "steady as any program that starts a new sound at every beat on %s.\n"
          % (QUIET_RUNS, server_name))
    print("| Load | tickora.exe p99 (ms) | floor p99 (ms) | Ratio | tickora.exe max (ms) "
          "| floor max (ms) | Ratio | Off > %.0f ms, tickora.exe / floor |" % OFF_BY_MS)
    print("|---|---|---|---|---|---|---|---|")
    rows = [("quiet", quiet_long(t), quiet_long(f))]
    if busy_long(t) and busy_long(f):
        rows.append(("busy", [busy_long(t)], [busy_long(f)]))
    for load, tr, fr in rows:
        tp, fp = median_of(tr, "p99_dev"), median_of(fr, "p99_dev")
        tm, fm = median_of(tr, "max_dev"), median_of(fr, "max_dev")
        print("| %s | %.2f | %.2f | %s | %.2f | %.2f | %s | %.1f %% / %.1f %% |" % (
            load, tp, fp, fmt_ratio(tp, fp), tm, fm, fmt_ratio(tm, fm),
            off_share(tr), off_share(fr)))
    print()


# ---------------------------------------------------------------------------- CPU

def click_baseline_cpu(exe, log_path, seconds=20):
    """% of a core of bench/ClickBaseline.cpp, the sound call alone with the idle wave-out
    handle held; its first seconds (device start-up) are left out, like tickora.exe's."""
    program = WineProgram(exe, log_path, {}, cwd=os.path.dirname(exe))
    try:
        time.sleep(3)
        return cpu_shares([program.pid], seconds).get(program.pid, float("nan"))
    finally:
        program.kill()


def print_cpu(heard, baseline, idle_pct, memory, server):
    print("### CPU at %d bpm\n" % LONG_TEMPO)
    print("CPU time (utime + stime from /proc/<pid>/stat, all threads) as %% of one core, from "
          "the third second of each %d bpm run to its end; quiet: the median of the quiet "
          "runs. For tickora.exe the process is `wine tickora.exe`, in which Wine's loader "
          "runs the program; the server's processes (%s) mix every beat; wineserver serves "
          "Wine's timers, waits and messages. The sound call alone is bench/ClickBaseline.cpp: "
          "the program's PlayBuiltInWave four times a second from a plain loop with the same "
          "idle wave-out handle held: **%.2f %%**.\n"
          % (LONG_TEMPO, ", ".join(server.PROCESSES[server.kind]), baseline))
    names = list(server.PROCESSES[server.kind]) + ["wineserver"]
    print("| Load | Program | Program (%) | " + " | ".join("%s (%%)" % n for n in names)
          + " | Server + wineserver (%) |")
    print("|---|---|---|" + "---|" * len(names) + "---|")
    for load, pick in (("quiet", quiet_long), ("busy", lambda r: [busy_long(r)])):
        for name, results in heard.items():
            runs = [s for s in pick(results) if s and s["cpu"]]
            if not runs:
                continue
            cpu = {n: audio.median([s["cpu"].get(n, 0.0) for s in runs])
                   for n in ["program"] + names}
            print("| %s | %s | %.2f | %s | %.2f |" % (
                load, name, cpu["program"], " | ".join("%.2f" % cpu[n] for n in names),
                sum(cpu[n] for n in names)))
    print("\ntickora.exe with the metronome stopped, over %.0f s: %.2f %% of one core "
          "(resolution %.2f %%). Resident memory of tickora.exe after its runs: VmRSS %s "
          "(peak VmHWM %s).\n" % (idle_pct[0], idle_pct[1], 100.0 / CLK_TCK / idle_pct[0],
                                   memory[0], memory[1]))


def print_verdicts(heard, baseline, server_name):
    t, f = heard["tickora.exe"], heard["floor"]

    def verdict(text, ok, detail):
        print("- Target on %s: %s. %s (%s)." % (server_name, text, "Met" if ok else "NOT met",
                                                detail))

    for load, tr, fr in (("quiet", quiet_long(t), quiet_long(f)),
                         ("one core busy", [busy_long(t)], [busy_long(f)])):
        if None in tr or None in fr:
            continue
        tp, fp = median_of(tr, "p99_dev"), median_of(fr, "p99_dev")
        verdict("%s, tickora.exe's p99 at or below the floor's" % load, tp <= fp,
                "%.2f ms against %.2f ms" % (tp, fp))
    bad = ["%d bpm%s: %d missed, %d extra" % (tempo, " busy" if busy else "", s["missed"],
                                              s["extra"])
           for tempo, busy, s in t if s["missed"] + s["extra"]]
    verdict("no missed or extra beat in any run of tickora.exe", not bad,
            "; ".join(bad) or "none in %d runs" % len(t))
    cpu = audio.median([s["cpu"]["program"] for s in quiet_long(t)])
    verdict("tickora.exe's CPU within 10 % of the sound call alone", cpu <= 1.1 * baseline,
            "%.2f %% against %.2f %%, ratio %.2f" % (cpu, baseline, cpu / baseline))
    print()


def measure_sources(rec, tickora, build, workdir, runs):
    """The wave-file tick beside the built-in click, and each from a plain loop; tickora.exe's
    built-in click runs are runs already made. Returns {name: [stats]}."""
    wave = os.path.join(harness.ROOT, "res", "tick.wav")
    tickora.app.choose_file(wave)
    found = {"tickora.exe, wave file": [s for _, _, s in measure(rec, tickora, runs, None)]}
    for path in (None, harness.windows_path(wave)):
        loop = SoundLoop(os.path.join(build, "click_baseline.exe"), path,
                         os.path.join(workdir, "loop.log"))
        found[loop.name] = [s for _, _, s in measure(rec, loop, runs, None)]
    return found


def print_sources(sources):
    print("### The wave file beside the built-in click, at %d bpm\n" % LONG_TEMPO)
    print("res/tick.wav, the built-in click's own sound, chosen as the wave file, against the "
          "built-in click; the loop is bench/ClickBaseline.cpp, which makes the same sound "
          "calls four times a second from a plain loop on the 1 ms multimedia clock, with no "
          "window or timer of ours: what it shows is Wine's and the server's. Medians of the "
          "quiet runs, heard as above.\n")
    print("| Source | Runs | p99 (ms) | Max (ms) | Off > %.0f ms | Missed / extra |" % OFF_BY_MS)
    print("|---|---|---|---|---|---|")
    for name, runs in sources.items():
        print("| %s | %d | %.2f | %.2f | %.1f %% | %d / %d |" % (
            name, len(runs), median_of(runs, "p99_dev"), median_of(runs, "max_dev"),
            off_share(runs), sum(s["missed"] for s in runs), sum(s["extra"] for s in runs)))
    print()


def peer_version():
    done = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "gtick"],
                          capture_output=True, text=True)
    return done.stdout.strip() or "(version unknown)"


# ---------------------------------------------------------------------------- latency

def latency_sweep(rec, workdir, wine_env, values, quiet):
    """For each PULSE_LATENCY_MSEC value (None: unset) a new tickora.exe: one quiet run at
    240 bpm, unless the value is the runs' own above, then a short wave file at every tempo.
    Returns [(value, stats or None, [wave stats])]."""
    wave_path = os.path.join(workdir, "short tick.wav")
    harness.write_wave(wave_path, [(3000, SHORT_WAVE_MS, 16000)])
    own = wine_env.get("PULSE_LATENCY_MSEC")
    found = []
    for value in [None] + [str(v) for v in values]:
        env = {k: v for k, v in wine_env.items() if k != "PULSE_LATENCY_MSEC"}
        if value:
            env["PULSE_LATENCY_MSEC"] = value
        log("PULSE_LATENCY_MSEC=%s" % (value or "unset"))
        program = Tickora(workdir, env, "latency-%s" % (value or "unset"))
        try:
            if value == own:
                warm_up(program)
                timing = None
            else:
                timing = measure(rec, program, [(LONG_TEMPO, quiet, False)], None)[0][2]
            program.app.choose_file(wave_path)
            waves = [run_segment(rec, program, tempo, SHORT_WAVE_INTERVALS)
                     for tempo in SLOW_TEMPI + (LONG_TEMPO,)]
        finally:
            program.close()
        found.append((value, timing, waves))
    return found


def print_latency(sweep, quiet_runs):
    print("### PULSE_LATENCY_MSEC for the Wine process\n")
    tempi = SLOW_TEMPI + (LONG_TEMPO,)
    print("A new tickora.exe for each value, with the value in its environment only: one "
          "quiet run at %d bpm (for the runs' own value: the median of their quiet runs), then a %d ms wave "
          "file for %d intervals at each of %s bpm; \"every beat\" when each of its beats "
          "was heard.\n" % (LONG_TEMPO, SHORT_WAVE_MS, SHORT_WAVE_INTERVALS,
                             ", ".join(map(str, tempi))))
    print("PIPEWIRE_LATENCY is not tried: pipewire-pulse does not take it from a PulseAudio "
          "client such as Wine. Set for paplay on this test bed, PIPEWIRE_LATENCY=4096/48000 "
          "left its stream's node.latency at 8192/44100 (pw-dump), where PULSE_LATENCY_MSEC=80 "
          "made it 882/44100.\n")
    print("| PULSE_LATENCY_MSEC | p99 (ms) | Max (ms) | Off > %.0f ms | %s |"
          % (OFF_BY_MS, " | ".join("Heard at %d" % t for t in tempi)))
    print("|---|---|---|---|" + "---|" * len(tempi))
    for value, timing, waves in sweep:
        if timing is None:
            p99, mx, off = (median_of(quiet_runs, "p99_dev"), median_of(quiet_runs, "max_dev"),
                            off_share(quiet_runs))
        else:
            p99, mx, off = timing["p99_dev"], timing["max_dev"], off_share([timing])
        print("| %s | %.2f | %.2f | %.1f %% | %s |" % (
            value or "unset", p99, mx, off,
            " | ".join(wave_heard(w) for w in waves)))


def wave_heard(stats):
    beats = SHORT_WAVE_INTERVALS + 1
    if stats["clicks"] >= beats and not stats["missed"]:
        return "every beat"
    return "%d of %d beats" % (min(stats["clicks"], beats), beats)
    print()


# ---------------------------------------------------------------------------- start-up

def time_startup(xd, exe, title, log_path, timeout=60):
    program = WineProgram(exe, log_path)
    try:
        window = xd.wait_for_window(title, timeout, program.proc)
        shown = time.monotonic() - program.launched
        # The close box, as a user ends it: a click works at any moment, while Escape right
        # after the window appears can come before the dialog has the keyboard focus.
        program.end(lambda: click_in_window(window, xd.width(window) - 14, 11))
    finally:
        program.kill()
    wait_wine_idle(["tickora", "bare_dialog"])
    # The previous program's exit is still echoing through wineserver and X.
    time.sleep(0.5)
    return shown


def measure_startup(xd, exe, bare, wine_log, runs):
    # A console process that waits on its input keeps wineserver and the virtual desktop up,
    # so each launch times the program's own start, not the server's.
    keeper = Program(["wine", "cmd.exe"], wine_log, input_pipe=True)
    times = {exe: [], bare: []}
    titles = {exe: TITLE, bare: BARE_TITLE}
    try:
        for path in (exe, bare):  # warm-up, not counted
            time_startup(xd, path, titles[path], wine_log)
        for _ in range(runs):
            for path in (exe, bare):
                times[path].append(time_startup(xd, path, titles[path], wine_log))
    finally:
        keeper.proc.stdin.close()
        try:
            keeper.wait_exit(10, "wine cmd.exe to end")
        except AssertionError:
            pass
        keeper.kill()
    ratio = audio.median(times[exe]) / audio.median(times[bare])
    print("## Start-up\n")
    print("Time from launching `wine <exe>` until its dialog is a viewable X window (polled "
          "every 5 ms through libX11), with wineserver and the virtual desktop already "
          "running; one warm-up launch each, then %d launches each, alternating. The bare "
          "dialog (bench/BareDialog.cpp) has the same template size, font and caption style "
          "and calls only DialogBoxParamA. Most of either time is Wine starting a process.\n"
          % runs)
    print("| Program | Median (ms) | Min (ms) | Max (ms) | Runs (ms) |")
    print("|---|---|---|---|---|")
    for path, name in ((exe, "tickora.exe"), (bare, "bare_dialog.exe")):
        t = [x * 1000 for x in times[path]]
        print("| %s | %.0f | %.0f | %.0f | %s |" % (
            name, audio.median(t), min(t), max(t), ", ".join("%.0f" % x for x in t)))
    print("\nTarget: start-up at most 1.2 x the bare dialog's. %s (ratio of medians %.2f).\n"
          % ("Met" if ratio <= 1.2 else "NOT met", ratio))


# ---------------------------------------------------------------------------- main

def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", default="build/win64")
    parser.add_argument("--work-dir", default="build/bench")
    parser.add_argument("--floor", required=True, help="the natively built floor_client")
    parser.add_argument("--intervals", type=int, default=60,
                        help="intervals at each tempo but the long one")
    parser.add_argument("--long-intervals", type=int, default=240,
                        help="intervals of each long run (240 = 1 minute at 240 bpm)")
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    parser.add_argument("--latency-sweep", default="",
                        help="PULSE_LATENCY_MSEC values to try for the Wine process, e.g. 20,40,80")
    parser.add_argument("--startup-md", metavar="PATH",
                        help="time the start-up and write its section to PATH")
    parser.add_argument("--startup-runs", type=int, default=11)
    parser.add_argument("--sources", action="store_true",
                        help="also the wave file beside the built-in click, each from a loop too")
    parser.add_argument("--sources-only", action="store_true",
                        help="only that, with the built-in click's quiet runs")
    parser.add_argument("--wine-env", action="append", default=[], metavar="NAME=VALUE",
                        help="set for the Wine process of tickora.exe only (not the recorder)")
    return parser.parse_args()


def main():
    args = parse_args()
    build = os.path.abspath(args.build_dir)
    exe, bare = os.path.join(build, "tickora.exe"), os.path.join(build, "bare_dialog.exe")
    os.environ.update(TICKORA_EXE=exe, TICKORA_PROBE=os.path.join(build, "tickora_probe.exe"))
    os.makedirs(args.work_dir, exist_ok=True)
    wine_log = os.path.join(args.work_dir, "wine.log")
    wine_env = dict(item.split("=", 1) for item in args.wine_env)
    server = SoundServer()
    server_name = server.version()
    long_runs = [(LONG_TEMPO, args.long_intervals, False)] * QUIET_RUNS
    busy_run = [(LONG_TEMPO, args.long_intervals, True)]
    tickora_runs = [(t, args.intervals, False) for t in SLOW_TEMPI] + long_runs + busy_run
    if args.sources_only:
        return sources_only(args, build, wine_env, long_runs)

    xd = XDisplay()
    # Recorder first: a fresh parec may deliver nothing for up to 2 s.
    rec = audio.Recorder(os.path.join(args.work_dir, "heard.wav"))
    heard, sweep, sources = {}, None, None
    try:
        rec.wait_until_flowing()
        tickora = Tickora(args.work_dir, wine_env)
        try:
            log("tickora.exe is up (pid %d) on %s, Wine environment %s"
                % (tickora.pid, server_name, wine_env))
            warm_up(tickora)
            time.sleep(1.0)
            # The stopped program's CPU, after a run and its device's close.
            idle_pct = (args.idle_seconds,
                        cpu_shares([tickora.pid], args.idle_seconds)[tickora.pid])
            heard[tickora.name] = measure(rec, tickora, tickora_runs, server)
            memory = (proc_status(tickora.pid, "VmRSS"), proc_status(tickora.pid, "VmHWM"))
            if args.sources:
                sources = {"tickora.exe, built-in click": quiet_long(heard[tickora.name])}
                sources.update(measure_sources(rec, tickora, build, args.work_dir, long_runs))
        finally:
            tickora.close()
        click = os.path.join(harness.ROOT, "res", "tick.wav")
        floor = Floor(args.floor, click, os.path.join(args.work_dir, "floor.log"))
        heard[floor.name] = measure(rec, floor, long_runs + busy_run, server)
        gtick = Gtick(xd, os.path.join(args.work_dir, "gtick-home"),
                      os.path.join(args.work_dir, "gtick.log"))
        try:
            heard[gtick.name] = measure(rec, gtick, long_runs[:1], server)
        finally:
            gtick.close()
        log("the sound call alone")
        baseline = click_baseline_cpu(os.path.join(build, "click_baseline.exe"), wine_log)
        if args.latency_sweep:
            values = [int(v) for v in args.latency_sweep.split(",")]
            sweep = latency_sweep(rec, args.work_dir, wine_env, values, args.long_intervals)
    finally:
        rec.stop()

    # Each beat's deviation, for bench/plot_heard.py.
    beats = {name: [{"tempo": tempo, "busy": busy, "onsets": s["onsets"], "signed": s["signed"],
                     "p99_dev": s["p99_dev"], "max_dev": s["max_dev"]}
                    for tempo, busy, s in results]
             for name, results in heard.items()}
    with open(os.path.join(args.work_dir, "heard.json"), "w") as f:
        json.dump({"server": server_name, "programs": beats}, f)
    print("## On %s\n" % server_name)
    if args.wine_env:
        print("Environment of the tickora.exe Wine process (not the recorder's): `%s`.\n"
              % " ".join(args.wine_env))
    print_heard(heard, server_name)
    print_cpu(heard, baseline, idle_pct, memory, server)
    print_verdicts(heard, baseline, server_name)
    if sources:
        print_sources(sources)
    if sweep:
        print_latency(sweep, quiet_long(heard["tickora.exe"]))
    if args.startup_md:
        wait_wine_idle(["tickora"])
        with open(args.startup_md, "w") as out, contextlib.redirect_stdout(out):
            measure_startup(xd, exe, bare, wine_log, args.startup_runs)
    xd.close()
    return 0


def sources_only(args, build, wine_env, long_runs):
    rec = audio.Recorder(os.path.join(args.work_dir, "heard.wav"))
    try:
        rec.wait_until_flowing()
        tickora = Tickora(args.work_dir, wine_env)
        try:
            warm_up(tickora)
            sources = {"tickora.exe, built-in click":
                       [s for _, _, s in measure(rec, tickora, long_runs, None)]}
            sources.update(measure_sources(rec, tickora, build, args.work_dir, long_runs))
        finally:
            tickora.close()
    finally:
        rec.stop()
    print("## On %s\n" % SoundServer().version())
    print_sources(sources)
    return 0


if __name__ == "__main__":
    sys.exit(main())
