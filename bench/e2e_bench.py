#!/usr/bin/env python3
"""End-to-end benchmarks of tickora.exe under Wine, driven from outside with real keys.

  bench/e2e_bench.py --build-dir build/win32 --work-dir build/bench

Expects the test bed of scripts/run-bench.sh: DISPLAY (Xvfb), WINEPREFIX and the private
PulseAudio (PULSE_SERVER, PULSE_SINK=tick). Prints Markdown sections to stdout:
  - the clicks as heard on the sound server's monitor at 40, 70 and 120 bpm (60 intervals)
    and at 240 bpm for 2 minutes, quiet and with one core busy, beside the peer gtick's;
  - CPU time of the program, PulseAudio and wineserver at 240 bpm, and resident memory;
  - start-up time against a bare dialog program launched the same way.
Standard library only; X is read through libX11 with ctypes. Each beat of every run goes to
heard.json in the work directory, for bench/plot_heard.py.
"""
import argparse
import ctypes
import ctypes.util
import os
import json
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import audio  # noqa: E402

TITLE = "Tickora 1.0"
BARE_TITLE = "Bare Dialog 1.0"
TEMPI = (40, 70, 120, 240)
# The tempo of the long runs (quiet and with a core busy), where the CPU is measured too.
LONG_TEMPO = 240
# Keys that set the tempo slider when it has the focus: Home is 40, End is 240,
# Page Down adds the page size (10).
TEMPO_KEYS = {40: ["Home"], 70: ["Home"] + ["Next"] * 3, 120: ["Home"] + ["Next"] * 8,
              240: ["End"]}
# The slider's channel in window coordinates (dialog units 12,71 165x23 at 6x13 base units,
# plus frame and caption): a click there gives the slider the focus.
SLIDER_CLICK = (40, 157)
# The close box in window coordinates (caption buttons drawn by Wine in the virtual desktop).
CLOSE_BOX_FROM_RIGHT, CLOSE_BOX_Y = 14, 11
CLK_TCK = os.sysconf("SC_CLK_TCK")


def log(msg):
    print("e2e_bench: " + msg, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------- X windows

class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int),
                ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


IS_VIEWABLE = 2
_XErrorHandler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


class XDisplay:
    """Finds viewable windows by title in a few round trips, without starting a process.

    Polling with this costs far less than running xdotool every few milliseconds, which
    would compete with the Wine start-up being timed.
    """

    def __init__(self):
        lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                   ctypes.POINTER(ctypes.c_uint)]
        lib.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                   ctypes.POINTER(ctypes.c_char_p)]
        lib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                             ctypes.POINTER(XWindowAttributes)]
        lib.XFree.argtypes = [ctypes.c_void_p]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._lib = lib
        # Windows vanish between listing and asking: the default handler would end Python.
        self._handler = _XErrorHandler(lambda dpy, err: 0)
        lib.XSetErrorHandler(self._handler)
        self._dpy = lib.XOpenDisplay(None)
        if not self._dpy:
            raise RuntimeError("cannot open X display %r" % os.environ.get("DISPLAY"))
        self._root = lib.XDefaultRootWindow(self._dpy)

    def _children(self, window):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        count = ctypes.c_uint()
        if not self._lib.XQueryTree(self._dpy, window, ctypes.byref(root), ctypes.byref(parent),
                                    ctypes.byref(children), ctypes.byref(count)):
            return []
        result = [children[i] for i in range(count.value)]
        if children:
            self._lib.XFree(children)
        return result

    def _name(self, window):
        name = ctypes.c_char_p()
        if not self._lib.XFetchName(self._dpy, window, ctypes.byref(name)) or not name.value:
            return None
        value = name.value.decode("latin-1")
        self._lib.XFree(name)
        return value

    def find_viewable(self, title):
        """The first viewable window named title, or title and more words after a space
        (a version number), top level or in Wine's virtual desktop."""
        # Two levels cover both: the root's children and the desktop window's children.
        for top in self._children(self._root):
            for window in [top] + self._children(top):
                name = self._name(window) or ""
                if name != title and not name.startswith(title + " "):
                    continue
                attrs = XWindowAttributes()
                if (self._lib.XGetWindowAttributes(self._dpy, window, ctypes.byref(attrs))
                        and attrs.map_state == IS_VIEWABLE):
                    return window
        return None

    def width(self, window):
        attrs = XWindowAttributes()
        if not self._lib.XGetWindowAttributes(self._dpy, window, ctypes.byref(attrs)):
            return 0
        return attrs.width

    def close(self):
        self._lib.XCloseDisplay(self._dpy)


def wait_for_window(xd, title, timeout, proc=None, poll=0.005):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        window = xd.find_viewable(title)
        if window:
            return window
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("%s ended (status %s) before its window appeared"
                               % (title, proc.returncode))
        time.sleep(poll)
    raise TimeoutError("no window %r within %.0f s" % (title, timeout))


def xdotool(*args, timeout=20):
    done = subprocess.run(["xdotool", *args], timeout=timeout, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError("xdotool %s failed (%d): %s"
                           % (" ".join(args), done.returncode, done.stderr.strip()))


def keys(*names):
    # Through XTEST to the focused window, as a user's keyboard would.
    xdotool("key", "--delay", "30", *names)


# ---------------------------------------------------------------------------- Wine processes

class WineApp:
    """One `wine <exe>` whose output goes to a file: Wine's helpers keep pipes open."""

    def __init__(self, exe, log_path, wine_env=None):
        self._log = open(log_path, "ab")
        self.launched = time.monotonic()
        self.proc = subprocess.Popen(["wine", exe], stdout=self._log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, start_new_session=True,
                                     env=dict(os.environ, **(wine_env or {})))
        self.pid = self.proc.pid

    def close(self, xd, title, timeout=10):
        """Clicks the dialog's close box; the process is killed by its id if it does not end.

        A click works at any moment; Escape right after the window appears can arrive before
        the dialog has the keyboard focus.
        """
        for _ in range(2):
            if self.proc.poll() is not None:
                break
            window = xd.find_viewable(title)
            if window:
                try:
                    xdotool("mousemove", "--window", str(window),
                            str(xd.width(window) - CLOSE_BOX_FROM_RIGHT), str(CLOSE_BOX_Y),
                            "click", "1")
                except (RuntimeError, subprocess.SubprocessError) as e:
                    log(str(e))
            try:
                self.proc.wait(timeout=timeout / 2)
            except subprocess.TimeoutExpired:
                pass
        if self.proc.poll() is None:
            log("pid %d did not end after its close box was clicked; killing it" % self.pid)
            os.kill(self.pid, signal.SIGKILL)
            self.proc.wait(timeout=5)
        self._log.close()


def proc_cpu_ticks(pid):
    """utime + stime (clock ticks) of all threads of pid, from /proc/<pid>/stat."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # fields 14 and 15 of stat(5)


def proc_status(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return line.split(":", 1)[1].strip()
    return ""


def proc_cmdline(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode("latin-1").strip()
    except OSError:
        return ""


def our_wine_processes():
    """{pid: (name, cmdline)} of the processes of this Wine prefix, wineserver included,
    and of the private sound server, which plays every click."""
    prefix = os.environ.get("WINEPREFIX", "").encode()
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                env = f.read().split(b"\0")
            with open("/proc/%d/comm" % pid) as f:
                comm = f.read().strip()
        except OSError:
            continue
        if b"WINEPREFIX=" + prefix not in env:
            continue
        cmd = proc_cmdline(pid)
        if comm.startswith("wineserver") or comm == "pulseaudio" or ".exe" in cmd.lower():
            found[pid] = (comm, cmd)
    return found


# ---------------------------------------------------------------------------- (a) as heard

# A beat this far off its place is heard by a trained ear.
OFF_BY_MS = 6.0


def segment_stats(onsets, period):
    gaps = audio.intervals(onsets)
    signed = [g - period for g in gaps]
    devs = [abs(d) for d in signed]
    return {
        "clicks": len(onsets),
        "intervals": len(gaps),
        "median_dev": audio.median(devs),
        "p99_dev": audio.percentile(devs, 0.99),
        "max_dev": max(devs) if devs else float("nan"),
        "off": sum(1 for d in devs if d > OFF_BY_MS),
        "missed": sum(1 for g in gaps if g >= 1.5 * period),
        "extra": sum(1 for g in gaps if g < 0.5 * period),
        "onsets": onsets,
        "signed": signed,
    }


def focus_slider(window):
    # Clicking the slider's channel pages it and gives it the focus; Home/End then set it.
    xdotool("mousemove", "--window", str(window), str(SLIDER_CLICK[0]), str(SLIDER_CLICK[1]),
            "click", "1")
    # Off the dialog again, so that no tooltip opens over it while it beats.
    xdotool("mousemove", "600", "600")
    time.sleep(0.2)


class Tickora:
    """tickora.exe under Wine: the slider set with Home, End and Page Down, Return for
    Start/Stop. wine_env is added to the Wine process's environment only."""
    name = "tickora.exe"

    def __init__(self, xd, exe, log_path, wine_env):
        self._xd = xd
        self.app = WineApp(exe, log_path, wine_env)
        self.pid = self.app.pid
        self.window = wait_for_window(xd, TITLE, 60, self.app.proc)

    def set_tempo(self, tempo):
        focus_slider(self.window)
        keys(*TEMPO_KEYS[tempo])
        time.sleep(0.2)

    def start_stop(self):
        keys("Return")

    def close(self):
        self.app.close(self._xd, TITLE)


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
        self._log = open(log_path, "ab")
        self.proc = subprocess.Popen(["gtick"], env=dict(os.environ, HOME=home),
                                     stdout=self._log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, start_new_session=True)
        self.pid = self.proc.pid
        self.window = wait_for_window(xd, self.TITLE, 30, self.proc)

    def focus(self):
        # With no window manager, whoever last set the X input focus keeps it (Wine's
        # virtual desktop, after tickora.exe), and GTK does not take it on a click.
        xdotool("windowfocus", str(self.window))

    def set_tempo(self, tempo):
        self.focus()
        xdotool("mousemove", "--window", str(self.window), str(self.SPEED_BOX[0]),
                str(self.SPEED_BOX[1]), "click", "1")
        keys("End", *["BackSpace"] * 4)
        xdotool("type", "--delay", "30", str(tempo))
        keys("Tab")
        time.sleep(0.2)

    def start_stop(self):
        self.focus()
        keys("ctrl+s")

    def close(self):
        if self.proc.poll() is None:
            self.focus()
            keys("ctrl+q")
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                log("gtick (pid %d) did not quit on Ctrl+Q; killing it" % self.pid)
                os.kill(self.pid, signal.SIGKILL)
                self.proc.wait(timeout=5)
        self._log.close()


class BusyCore:
    """One core kept busy by a plain shell loop while the block runs."""

    def __enter__(self):
        self.proc = subprocess.Popen(["sh", "-c", "while :; do :; done"],
                                     start_new_session=True)
        return self

    def __exit__(self, *exc):
        os.kill(self.proc.pid, signal.SIGKILL)
        self.proc.wait(timeout=5)


def helper_pids():
    """{pid: name} of the sound server and wineserver, which work for every click."""
    return {pid: ("wineserver" if comm.startswith("wineserver") else comm)
            for pid, (comm, _) in our_wine_processes().items()
            if comm.startswith("wineserver") or comm == "pulseaudio"}


def cpu_shares(pids, seconds):
    """% of one core for each pid over the next `seconds` (pids that end count as 0)."""
    def ticks():
        found = {}
        for pid in pids:
            try:
                found[pid] = proc_cpu_ticks(pid)
            except OSError:
                pass
        return found
    t0, c0 = time.monotonic(), ticks()
    time.sleep(seconds)
    t1, c1 = time.monotonic(), ticks()
    return {pid: 100.0 * (c1[pid] - c0[pid]) / CLK_TCK / (t1 - t0)
            for pid in c0 if pid in c1}


def run_segment(rec, program, tempo, intervals, measure_cpu=False):
    """Starts, lets intervals + 1 clicks sound, stops. Returns the segment's statistics and,
    if asked, the CPU shares of the program, pulseaudio and wineserver while it beat."""
    period = 60000.0 / tempo
    program.set_tempo(tempo)
    start_ms = rec.position_ms()
    program.start_stop()
    started = time.monotonic()
    # The first click comes at the start or one period after it.
    run_for = (intervals + 1) * period / 1000.0 + 0.3
    cpu = None
    if measure_cpu:
        # From the third second to the end, away from the key presses and the first sound.
        settle = 2.0
        time.sleep(settle)
        helpers = helper_pids()
        shares = cpu_shares([program.pid] + list(helpers), run_for - settle - 0.3)
        cpu = {"program": shares.get(program.pid, float("nan"))}
        for pid, name in helpers.items():
            cpu[name] = cpu.get(name, 0.0) + shares.get(pid, 0.0)
    time.sleep(max(0.0, started + run_for - time.monotonic()))
    program.start_stop()
    # Let the last click finish and reach the capture.
    time.sleep(0.5)
    end_ms = rec.position_ms()
    samples = audio.slice_ms(audio.read_samples(rec.path), start_ms, end_ms)
    stats = segment_stats(audio.find_onsets(samples), period)
    stats["cpu"] = cpu
    return stats


def warm_up(program):
    # A process's first sound starts its audio device and comes late: one short run before
    # measuring keeps that start-up out of the intervals.
    program.set_tempo(240)
    program.start_stop()
    time.sleep(1.2)
    program.start_stop()
    time.sleep(1.5)


def measure_program(rec, program, runs):
    """runs: [(tempo, intervals, busy)]; returns {(tempo, busy): stats}."""
    warm_up(program)
    results = {}
    for tempo, intervals, busy in runs:
        log("%s: %d bpm, %d intervals%s" % (program.name, tempo, intervals,
                                             ", one core busy" if busy else ""))
        long_run = tempo == LONG_TEMPO
        if busy:
            with BusyCore():
                time.sleep(1.0)
                results[(tempo, busy)] = run_segment(rec, program, tempo, intervals, long_run)
        else:
            results[(tempo, busy)] = run_segment(rec, program, tempo, intervals, long_run)
    return results


def fmt_ratio(a, b):
    # Below half a sample a deviation is 0 to this analysis (float rounding aside).
    zero = 500.0 / audio.RATE
    if b >= zero:
        return "%.1f" % (a / b)
    return "—" if a < zero else "∞"


def print_heard(heard, runs):
    names = list(heard)
    peer = len(names) > 1
    print("## As heard\n")
    print("Clicks recorded from the private sound server's null-sink monitor (parec, 44.1 kHz, "
          "5 ms capture latency) while each program beat, driven through its own window with "
          "real keys. Each program had one short run at 240 bpm first, since a process's first "
          "sound comes late while its audio device starts. Deviation = |interval between "
          "onsets - period|, with period = 60000 / tempo ms; off = intervals deviating by "
          "more than %.0f ms, which a trained ear hears; missed = intervals of 1.5 periods or "
          "more; extra = intervals under half a period. \"Busy\" runs had one of the machine's "
          "cores kept busy by a plain shell loop (`while :; do :; done`).\n" % OFF_BY_MS)
    if peer:
        print("The peer is Debian's `gtick` %s, a GTK metronome that streams samples to "
              "PulseAudio, through the same sink with the same analysis. Ratios are tickora / "
              "gtick; — where both are 0, ∞ where only gtick's is 0 (its clicks land on the "
              "exact sample, so the analysis's resolution, 1/44100 s, is its whole "
              "deviation).\n" % peer_version())
    head = ["Tempo (bpm)", "Load", "Program", "Intervals", "Median (ms)", "p99 (ms)",
            "Max (ms)", "Off > %.0f ms" % OFF_BY_MS, "Missed", "Extra"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for tempo, intervals, busy in runs:
        rows = [(name, heard[name][(tempo, busy)]) for name in names]
        for name, s in rows:
            print("| %d | %s | %s | %d | %.2f | %.2f | %.2f | %d | %d | %d |" % (
                tempo, "busy" if busy else "quiet", name, s["intervals"], s["median_dev"],
                s["p99_dev"], s["max_dev"], s["off"], s["missed"], s["extra"]))
        if peer:
            (_, t), (_, g) = rows
            print("| %d | %s | *ratio* | | %s | %s | %s | %s | | |" % (
                tempo, "busy" if busy else "quiet",
                fmt_ratio(t["median_dev"], g["median_dev"]), fmt_ratio(t["p99_dev"], g["p99_dev"]),
                fmt_ratio(t["max_dev"], g["max_dev"]), fmt_ratio(t["off"], g["off"])))
    print()


def print_cpu(heard, runs, idle_pct, memory):
    print("## CPU\n")
    print("CPU time (utime + stime from /proc/<pid>/stat, all threads) as %% of one core, "
          "from the third second of each %d bpm run to its end: the program's own process "
          "(for tickora.exe the pid of `wine tickora.exe`, in which Wine's loader runs the "
          "program), the private PulseAudio, which mixes every click, and wineserver, which "
          "serves Wine's timers, waits and messages.\n" % LONG_TEMPO)
    print("| Load | Program | Program CPU (%) | pulseaudio (%) | wineserver (%) "
          "| pulseaudio + wineserver (%) |")
    print("|---|---|---|---|---|---|")
    names = list(heard)
    for tempo, _, busy in runs:
        if tempo != LONG_TEMPO:
            continue
        for name in names:
            c = heard[name][(tempo, busy)]["cpu"]
            helpers = c.get("pulseaudio", 0.0) + c.get("wineserver", 0.0)
            print("| %s | %s | %.2f | %.2f | %.2f | %.2f |" % (
                "busy" if busy else "quiet", name, c["program"], c.get("pulseaudio", 0.0),
                c.get("wineserver", 0.0), helpers))
        if len(names) > 1:
            t, g = (heard[n][(tempo, busy)]["cpu"]["program"] for n in names)
            print("| %s | *ratio* | %s | | | |" % ("busy" if busy else "quiet", fmt_ratio(t, g)))
    print("\ntickora.exe with the metronome stopped, over %.0f s: %.2f %% of one core "
          "(resolution %.2f %%).\n" % (idle_pct[0], idle_pct[1], 100.0 / CLK_TCK / idle_pct[0]))
    print("Resident memory of tickora.exe after its runs: VmRSS %s (peak VmHWM %s).\n" % memory)


def print_verdicts(heard, idle_pct):
    t = heard["tickora.exe"]

    def verdict(text, ok, detail):
        print("- Target: %s. %s (%s)." % (text, "Met" if ok else "NOT met", detail))

    quiet, busy = t.get((LONG_TEMPO, False)), t.get((LONG_TEMPO, True))
    if quiet:
        verdict("quiet, %d bpm: p99 <= 4 ms, max <= 8 ms, no missed or extra beat" % LONG_TEMPO,
                quiet["p99_dev"] <= 4 and quiet["max_dev"] <= 8
                and quiet["missed"] + quiet["extra"] == 0,
                "p99 %.2f ms, max %.2f ms, %d missed, %d extra over %d intervals" % (
                    quiet["p99_dev"], quiet["max_dev"], quiet["missed"], quiet["extra"],
                    quiet["intervals"]))
    slow = [(tempo, s) for (tempo, b), s in sorted(t.items()) if tempo != LONG_TEMPO and not b]
    if slow:
        verdict("quiet, %s bpm: p99 <= 4 ms" % ", ".join(str(tempo) for tempo, _ in slow),
                all(s["p99_dev"] <= 4 for _, s in slow),
                ", ".join("%.2f ms at %d" % (s["p99_dev"], tempo) for tempo, s in slow))
    if busy:
        verdict("one core busy, %d bpm: p99 <= 8 ms, no missed or extra beat" % LONG_TEMPO,
                busy["p99_dev"] <= 8 and busy["missed"] + busy["extra"] == 0,
                "p99 %.2f ms, %d missed, %d extra" % (busy["p99_dev"], busy["missed"],
                                                      busy["extra"]))
    if quiet:
        verdict("tickora.exe at %d bpm <= 2.0 %% of a core, stopped 0.00 %%" % LONG_TEMPO,
                quiet["cpu"]["program"] <= 2.0 and idle_pct[1] == 0,
                "%.2f %% beating, %.2f %% stopped" % (quiet["cpu"]["program"], idle_pct[1]))
    print()


def peer_version():
    done = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "gtick"],
                          capture_output=True, text=True)
    return done.stdout.strip() or "(version unknown)"


# ---------------------------------------------------------------------------- (c) start-up

def time_startup(xd, exe, title, log_path, timeout=60):
    app = WineApp(exe, log_path)
    try:
        wait_for_window(xd, title, timeout, app.proc)
        shown = time.monotonic() - app.launched
    finally:
        app.close(xd, title)
    return shown


def startup_runs(xd, exe, bare, wine_log, runs):
    times = {exe: [], bare: []}
    titles = {exe: TITLE, bare: BARE_TITLE}
    for path in (exe, bare):  # warm-up, not counted
        time_startup(xd, path, titles[path], wine_log)
        wait_wine_idle()
        time.sleep(0.5)
    for _ in range(runs):
        for path in (exe, bare):
            times[path].append(time_startup(xd, path, titles[path], wine_log))
            wait_wine_idle()
            # The previous program's exit is still echoing through wineserver and X.
            time.sleep(0.5)
    return times


def wait_wine_idle(timeout=30):
    """Waits until no process of the prefix but the kept-alive ones remains (bounded)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        names = [cmd for _, cmd in our_wine_processes().values()]
        if not any(".exe" in c and ("tickora" in c or "bare_dialog" in c) for c in names):
            return
        time.sleep(0.1)


# ---------------------------------------------------------------------------- main

def measure_startup(xd, exe, bare, wine_log, runs):
    wait_wine_idle()
    # A console process that waits on its input keeps wineserver and the virtual desktop up,
    # so each launch times the program's own start, not the server's.
    keeper_log = open(wine_log, "ab")
    keeper = subprocess.Popen(["wine", "cmd.exe"], stdin=subprocess.PIPE, stdout=keeper_log,
                              stderr=subprocess.STDOUT, start_new_session=True)
    try:
        times = startup_runs(xd, exe, bare, wine_log, runs)
    finally:
        keeper.stdin.close()
        try:
            keeper.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.kill(keeper.pid, signal.SIGKILL)
            keeper.wait(timeout=5)
        keeper_log.close()
    med_t = audio.median(times[exe]) * 1000
    med_b = audio.median(times[bare]) * 1000
    ratio = med_t / med_b
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", default="build/win32")
    parser.add_argument("--work-dir", default="build/bench")
    parser.add_argument("--tempi", default=",".join(map(str, TEMPI)))
    parser.add_argument("--intervals", type=int, default=60,
                        help="intervals at each tempo but the long one")
    parser.add_argument("--long-intervals", type=int, default=480,
                        help="intervals of each long run (480 = 2 minutes at 240 bpm)")
    parser.add_argument("--no-busy", action="store_true", help="skip the busy-core run")
    parser.add_argument("--no-peer", action="store_true", help="skip gtick")
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    parser.add_argument("--startup-runs", type=int, default=11, help="0 skips start-up")
    parser.add_argument("--plot", metavar="PNG", help="link this picture of the long runs' "
                        "beats, drawn from heard.json by bench/plot_heard.py")
    parser.add_argument("--wine-env", action="append", default=[], metavar="NAME=VALUE",
                        help="set for the Wine process of tickora.exe only (not the recorder)")
    args = parser.parse_args()

    exe = os.path.abspath(os.path.join(args.build_dir, "tickora.exe"))
    bare = os.path.abspath(os.path.join(args.build_dir, "bare_dialog.exe"))
    os.makedirs(args.work_dir, exist_ok=True)
    wine_log = os.path.join(args.work_dir, "wine.log")
    for path in (exe, bare):
        if not os.path.exists(path):
            raise SystemExit("missing %s: build first" % path)
    wine_env = dict(item.split("=", 1) for item in args.wine_env)
    runs = [(tempo, args.long_intervals if tempo == LONG_TEMPO else args.intervals, False)
            for tempo in map(int, args.tempi.split(","))]
    if LONG_TEMPO in [tempo for tempo, _, _ in runs] and not args.no_busy:
        runs.append((LONG_TEMPO, args.long_intervals, True))

    xd = XDisplay()
    rec = audio.Recorder(os.path.join(args.work_dir, "heard.wav"))
    heard = {}
    try:
        # Recorder first: a fresh parec may deliver nothing for up to 2 s.
        rec.wait_until_flowing()
        tickora = Tickora(xd, exe, wine_log, wine_env)
        try:
            log("tickora.exe is up (pid %d), Wine environment %s" % (tickora.pid, wine_env))
            warm_up(tickora)
            time.sleep(1.0)
            # The stopped program's CPU, after a run and its device's close.
            idle_pct = (args.idle_seconds,
                        cpu_shares([tickora.pid], args.idle_seconds)[tickora.pid])
            heard[tickora.name] = measure_program(rec, tickora, runs)
            memory = (proc_status(tickora.pid, "VmRSS"), proc_status(tickora.pid, "VmHWM"))
        finally:
            tickora.close()
        if not args.no_peer:
            wait_wine_idle()
            gtick = Gtick(xd, os.path.join(args.work_dir, "gtick-home"),
                          os.path.join(args.work_dir, "gtick.log"))
            try:
                heard[gtick.name] = measure_program(rec, gtick, runs)
            finally:
                gtick.close()
    finally:
        rec.stop()

    # Each beat's deviation, for bench/plot_heard.py.
    beats = {name: [{"tempo": tempo, "busy": busy, "onsets": s["onsets"], "signed": s["signed"],
                     "p99_dev": s["p99_dev"], "max_dev": s["max_dev"]}
                    for (tempo, busy), s in results.items()]
             for name, results in heard.items()}
    with open(os.path.join(args.work_dir, "heard.json"), "w") as f:
        json.dump(beats, f)
    if args.wine_env:
        print("Environment of the tickora.exe Wine process (not the recorder's): `%s`.\n"
              % " ".join(args.wine_env))
    print_heard(heard, runs)
    if args.plot:
        print("![Each beat's deviation at %d bpm, quiet and with a core busy](%s)\n"
              % (LONG_TEMPO, args.plot))
        print("Each point is one interval between clicks as heard, minus the period, drawn at "
              "the time of its second click; the dashed lines are +-%.0f ms.\n" % OFF_BY_MS)
    if LONG_TEMPO in [tempo for tempo, _, _ in runs]:
        print_cpu(heard, runs, idle_pct, memory)
    print_verdicts(heard, idle_pct)
    if args.startup_runs:
        measure_startup(xd, exe, bare, wine_log, args.startup_runs)
    xd.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
