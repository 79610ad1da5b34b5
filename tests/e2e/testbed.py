"""The test bed, shared by the end-to-end tests and the benchmarks: bounded waits, X windows
and input, programs under Wine, the CPU time of processes, and the private sound server
with a recorder on its sink.

scripts/testbed.sh starts Xvfb and the sound server and exports what reaches them (DISPLAY,
PULSE_SERVER, XDG_RUNTIME_DIR, TESTBED_SOUND_SERVER); this module finds its way from there.
Standard library only; X is read through libX11 with ctypes.
"""
import ctypes
import ctypes.util
import os
import signal
import subprocess
import time

import audio

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CLK_TCK = os.sysconf("SC_CLK_TCK")
# Far from every control, so that no tooltip shows and no click lands by accident.
PARK_XY = (1000, 740)


def wait_for(what, fn, timeout=10.0, interval=0.1):
    """Calls fn until it returns something true; returns that, or fails saying what it awaited."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        last = fn()
        if last:
            return last
        if time.monotonic() >= deadline:
            raise AssertionError("timed out after %.1f s waiting for %s (last: %r)"
                                 % (timeout, what, last))
        time.sleep(interval)


def run_tool(args, timeout=10.0, stdout=None, stderr=None, env=None):
    """Runs a short tool, a Windows one under Wine too, with its output to files (none unless
    given: Wine's background processes keep inherited pipes open); a tool that hangs is killed
    and reported. Returns its exit code."""
    try:
        r = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=stdout or subprocess.DEVNULL,
                           stderr=stderr or subprocess.DEVNULL, timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        raise AssertionError("%s did not finish within %.0f s" % (" ".join(args), timeout))
    return r.returncode


# --- X input -------------------------------------------------------------------------------

def xdotool(*args, timeout=20):
    code = run_tool(["xdotool"] + [str(a) for a in args], timeout=timeout)
    if code:
        raise AssertionError("xdotool %s failed (%d)" % (" ".join(map(str, args)), code))


def click(x, y, button=1):
    # No --sync: it hangs when the pointer is already at the target.
    xdotool("mousemove", int(x), int(y), "click", button)


def click_in_window(window, x, y):
    xdotool("mousemove", "--window", window, x, y, "click", 1)


def park_mouse():
    xdotool("mousemove", *PARK_XY)


def key(*keys, delay_ms=40):
    xdotool("key", "--delay", delay_ms, *keys, timeout=60)


def type_text(text, delay_ms=20):
    xdotool("type", "--delay", delay_ms, "--", text, timeout=60)


def centre(rect):
    return ((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)


def screenshot(path):
    """The whole X screen, as the user would see it."""
    run_tool(["import", "-window", "root", path], timeout=30)


# --- X windows -----------------------------------------------------------------------------

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
    """Finds viewable windows by title in a few round trips, without starting a process:
    polling with this costs far less than running xdotool every few milliseconds, which
    would compete with a Wine start-up being timed."""

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

    def viewable(self, title, exact=True, levels=None):
        """The viewable windows named title (or, unless exact, title and more words after a
        space: a version number), levels deep below the root (None: all the way)."""
        found = []
        below = [(w, 1) for w in self._children(self._root)]
        while below:
            window, level = below.pop(0)
            name = self._name(window) or ""
            if name == title or (not exact and name.startswith(title + " ")):
                attrs = XWindowAttributes()
                if (self._lib.XGetWindowAttributes(self._dpy, window, ctypes.byref(attrs))
                        and attrs.map_state == IS_VIEWABLE):
                    found.append(window)
            if levels is None or level < levels:
                below += [(w, level + 1) for w in self._children(window)]
        return found

    def find_viewable(self, title):
        """The first viewable window named title, or title and a version number, top level
        or in Wine's virtual desktop: two levels cover both, in few round trips."""
        found = self.viewable(title, exact=False, levels=2)
        return found[0] if found else None

    def width(self, window):
        attrs = XWindowAttributes()
        if not self._lib.XGetWindowAttributes(self._dpy, window, ctypes.byref(attrs)):
            return 0
        return attrs.width

    def wait_for_window(self, title, timeout, proc=None, poll=0.005):
        def shown():
            if proc is not None and proc.poll() is not None:
                raise AssertionError("%s ended (status %s) before its window appeared"
                                     % (title, proc.returncode))
            return self.find_viewable(title)
        return wait_for("the window %r" % title, shown, timeout=timeout, interval=poll)

    def close(self):
        self._lib.XCloseDisplay(self._dpy)


_display = None


def x_windows(title):
    """The viewable X windows titled exactly title: top level, in a window manager's frame or
    in Wine's virtual desktop."""
    global _display
    if _display is None:
        _display = XDisplay()
    return _display.viewable(title)


# --- programs ------------------------------------------------------------------------------

class Program:
    """One program started in a session of its own, its output to a file (Wine's background
    processes keep inherited pipes open); stopped by its own pid, never by name."""

    def __init__(self, args, log_path, env=None, cwd=None, base_env=None, input_pipe=False):
        """env is added to base_env, which is this process's environment unless given; with
        input_pipe, the program reads from proc.stdin, else from nothing."""
        self._log = open(log_path, "ab")
        self.launched = time.monotonic()
        base = os.environ if base_env is None else base_env
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE if input_pipe
                                     else subprocess.DEVNULL, stdout=self._log,
                                     stderr=subprocess.STDOUT, cwd=cwd, start_new_session=True,
                                     env=dict(base, **(env or {})))
        self.pid = self.proc.pid

    def alive(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout=10.0, what="the program to exit"):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))

    def kill(self):
        if self.alive():
            os.kill(self.pid, signal.SIGKILL)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        self._log.close()

    def end(self, ask, timeout=10.0):
        """Asks the program to end (ask() gives real input); kills it if it does not."""
        if self.alive():
            try:
                ask()
                self.wait_exit(timeout)
            except AssertionError as e:
                print("testbed: pid %d did not end when asked (%s); killing it" % (self.pid, e))
        self.kill()


class WineProgram(Program):
    """`wine <exe>` as a user would start it; wine_env goes to that process only."""

    def __init__(self, exe, log_path, wine_env=None, cwd=None):
        super().__init__(["wine", exe], log_path, wine_env, cwd)


def wine_prefix_pids():
    """{pid: command line} of the processes of this Wine prefix, wineserver included."""
    prefix = ("WINEPREFIX=" + os.environ.get("WINEPREFIX", "")).encode()
    found = {}
    for pid in all_pids():
        env = proc_read(pid, "environ")
        if env is not None and prefix in env.split(b"\0"):
            found[pid] = proc_cmdline(pid)
    return found


def wait_wine_idle(names, timeout=30):
    """Waits until no .exe of the prefix whose command line holds one of names remains."""
    def idle():
        return not any(".exe" in c.lower() and any(n in c for n in names)
                       for c in wine_prefix_pids().values())
    try:
        wait_for("the prefix's programs %s to end" % (names,), idle, timeout=timeout)
    except AssertionError as e:
        print("testbed: %s" % e)


# --- processes and their CPU ---------------------------------------------------------------

def all_pids():
    return [int(e) for e in os.listdir("/proc") if e.isdigit()]


def proc_read(pid, name):
    try:
        with open("/proc/%d/%s" % (pid, name), "rb") as f:
            return f.read()
    except OSError:
        return None


def proc_cmdline(pid):
    return (proc_read(pid, "cmdline") or b"").replace(b"\0", b" ").decode("latin-1").strip()


def proc_comm(pid):
    return (proc_read(pid, "comm") or b"").decode("latin-1").strip()


def proc_cpu_ticks(pid):
    """utime + stime (clock ticks) of all threads of pid, from /proc/<pid>/stat."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # fields 14 and 15 of stat(5)


def proc_start_time(pid):
    """The start time of pid (clock ticks since boot, as text), or None if it is gone or a
    zombie: with it, a recorded pid is not taken for another process that got it since."""
    fields = (proc_read(pid, "stat") or b")").rsplit(b")", 1)[1].split()
    if len(fields) < 20 or fields[0] == b"Z":
        return None
    return fields[19].decode()


def proc_status(pid, key):
    for line in (proc_read(pid, "status") or b"").decode("latin-1").splitlines():
        if line.startswith(key + ":"):
            return line.split(":", 1)[1].strip()
    return ""


def cpu_shares(pids, seconds):
    """% of one core for each pid over the next `seconds` (pids that end are left out)."""
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


class BusyCore:
    """One core kept busy by a plain shell loop while the block runs."""

    def __enter__(self):
        self.proc = subprocess.Popen(["sh", "-c", "while :; do :; done"],
                                     start_new_session=True)
        return self

    def __exit__(self, *exc):
        os.kill(self.proc.pid, signal.SIGKILL)
        self.proc.wait(timeout=5)


# --- the sound server ----------------------------------------------------------------------

class SoundServer:
    """The test bed's private sound server: PulseAudio, or PipeWire with pipewire-pulse and
    wireplumber. scripts/testbed.sh, which knows how the test bed runs it, starts it and
    records each process it starts, as "pid start-time name", in testbed.pids in the server's
    runtime directory; only those processes are signalled here."""

    PROCESSES = {"pulseaudio": ("pulseaudio",),
                 "pipewire": ("pipewire", "pipewire-pulse", "wireplumber")}

    def __init__(self):
        self.kind = os.environ.get("TESTBED_SOUND_SERVER", "pulseaudio")
        self.runtime_dir = os.environ["XDG_RUNTIME_DIR"]

    def pids(self):
        """{pid: name} of the server's recorded processes that still run."""
        names = self.PROCESSES[self.kind]
        found = {}
        try:
            with open(os.path.join(self.runtime_dir, "testbed.pids")) as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return found
        for line in lines:
            pid, start, name = line.split()
            if name in names and proc_start_time(int(pid)) == start:
                found[int(pid)] = name
        return found

    def kill(self):
        pids = self.pids()
        assert pids, "no %s of the test bed is running" % self.kind
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass  # PipeWire's helpers leave when pipewire goes
        wait_for("%s (pids %s) to be gone" % (self.kind, sorted(pids)),
                 lambda: not self.pids().keys() & pids.keys(),
                 timeout=10, interval=0.02)

    def start(self):
        script = os.path.join(ROOT, "scripts", "testbed.sh")
        code = run_tool(["bash", "-c", 'source "$0" && testbed_restart_sound', script],
                        timeout=60)
        assert code == 0, "the sound server did not start again (see the test bed's logs)"

    def version(self):
        """The server's name and upstream version, from its Debian package."""
        package, name = {"pulseaudio": ("pulseaudio", "PulseAudio"),
                         "pipewire": ("pipewire-pulse", "PipeWire")}[self.kind]
        done = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                              capture_output=True, text=True)
        upstream = done.stdout.strip().split("-")[0].split("+")[0].split("~")[0]
        return "%s %s" % (name, upstream or "(version unknown)")


class Listener:
    """One recorder of the sink's monitor for a whole session, started before the program so
    that it flows; the moments that matter are marked in it."""

    def __init__(self, workdir, name="heard", flowing_timeout=10.0):
        self.rec = audio.Recorder(os.path.join(workdir, name + ".wav"))
        self.rec.wait_until_flowing(flowing_timeout)

    def mark(self):
        return self.rec.position_ms()

    def wait_until(self, ms, timeout=30.0):
        """Waits until the recording has reached ms."""
        wait_for("the recording to reach %.0f ms" % ms, lambda: self.rec.position_ms() >= ms,
                 timeout=timeout, interval=0.02)

    def listen(self, duration_ms):
        start = self.mark()
        self.wait_until(start + duration_ms)
        return start, start + duration_ms

    def samples(self, start_ms, end_ms):
        return audio.slice_ms(audio.read_samples(self.rec.path), start_ms, end_ms)

    def onsets(self, start_ms, end_ms, **kw):
        """Onset times (ms, absolute in the recording) within [start_ms, end_ms).

        The analysis starts 300 ms early so that a sound already going at start_ms is not
        taken for one starting there.
        """
        kw.setdefault("skip_ms", 0)
        lead = min(300.0, start_ms)
        found = audio.find_onsets(self.samples(start_ms - lead, end_ms), **kw)
        return [start_ms - lead + t for t in found if t >= lead]

    def peak(self, start_ms, end_ms):
        return audio.peak_amplitude(self.samples(start_ms, end_ms))

    def stop(self):
        self.rec.stop()
