"""Driving the real Tickora under Wine: start it as a user would, give it real X input with
xdotool, read its state through tickora_probe, listen to it through the private sound server.

The environment (DISPLAY, WINEPREFIX, PULSE_SERVER, ...) comes from scripts/run-tests.sh;
CTest passes the paths of the programs in TICKORA_EXE and TICKORA_PROBE and a scratch
directory in TICKORA_E2E_DIR. Every wait here is bounded and says what it waited for.
"""
import json
import math
import os
import shutil
import signal
import struct
import subprocess
import time
import unittest
import wave

import audio

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Control ids (res/resource.h)
IDOK = 1
IDC_PRIORITY = 100
IDC_TEMPO_SLIDER = 1000
IDC_START_STOP = 1002
IDC_ABOUT = 1004
IDC_SOUND_BUILTIN = 1005
IDC_SOUND_SPEAKER = 1006
IDC_SOUND_WAVE = 1007
IDC_SELECT_WAVE = 1008
IDC_TEMPO_TEXT = 1011

CANNOT_PLAY = ("Cannot play sound! Maybe the\naudio device is currently in use...\n"
               "or maybe the file is invalid.")
LAMP_ON = (255, 0, 0)
LAMP_OFF = (128, 0, 0)
# Far from every control, so that no tooltip shows and no click lands by accident.
PARK_XY = (1000, 740)


def env_path(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest("%s is not set: run through ctest (scripts/run-tests.sh)" % name)
    return value


def check_testbed():
    for name in ("DISPLAY", "WINEPREFIX", "PULSE_SERVER"):
        if not os.environ.get(name):
            raise RuntimeError("%s is not set: run through scripts/run-tests.sh" % name)
    for tool in ("wine", "xdotool", "parec", "import", "convert"):
        if not shutil.which(tool):
            raise RuntimeError("%s not found" % tool)


def scratch_dir(name):
    path = os.path.join(env_path("TICKORA_E2E_DIR"), name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


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


def run_tool(args, timeout=10.0):
    """Runs a short tool with its output to a file; a tool that hangs is killed and reported."""
    try:
        r = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise AssertionError("%s did not finish within %.0f s" % (" ".join(args), timeout))
    return r.returncode


# --- X input -------------------------------------------------------------------------------

def click(x, y, button=1):
    # No --sync: it hangs when the pointer is already at the target.
    run_tool(["xdotool", "mousemove", str(int(x)), str(int(y)), "click", str(button)])


def park_mouse():
    run_tool(["xdotool", "mousemove", str(PARK_XY[0]), str(PARK_XY[1])])


FILE_NAME_BOX = 0x47C  # cmb13, the explorer-style file dialog's file-name box


def key(*keys, delay_ms=40):
    run_tool(["xdotool", "key", "--delay", str(delay_ms)] + list(keys), timeout=60)


def type_text(text, delay_ms=20):
    run_tool(["xdotool", "type", "--delay", str(delay_ms), "--", text], timeout=60)


def centre(rect):
    return ((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)


# --- wave files of our own -----------------------------------------------------------------

def write_wave(path, parts, rate=audio.RATE):
    """Writes a mono 16-bit file of consecutive (hz, ms, amplitude) tones."""
    frames = bytearray()
    for hz, ms, amp in parts:
        n = int(rate * ms / 1000)
        for i in range(n):
            frames += struct.pack("<h", int(amp * math.sin(2 * math.pi * hz * i / rate)))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def windows_path(unix_path):
    """The path as Wine's Z: drive names it."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


# --- the program ---------------------------------------------------------------------------

class App:
    """One tickora.exe started with `wine`, as a user would; stopped by its own pid."""

    def __init__(self, workdir, name="app"):
        self.exe = env_path("TICKORA_EXE")
        self.probe_exe = env_path("TICKORA_PROBE")
        self.workdir = workdir
        self.log_path = os.path.join(workdir, name + ".log")
        self._log = open(self.log_path, "wb")
        # Output to a file: Wine's background processes keep inherited pipes open.
        self.proc = subprocess.Popen(["wine", self.exe], stdin=subprocess.DEVNULL,
                                     stdout=self._log, stderr=subprocess.STDOUT,
                                     cwd=workdir, start_new_session=True)
        self._probe_out = os.path.join(workdir, name + ".probe.json")
        self.last = None
        self.files_chosen = 0

    # process

    def alive(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout=10.0, what="the program to exit"):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))

    def kill(self):
        if self.alive():
            os.kill(self.proc.pid, signal.SIGKILL)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        self._log.close()

    # looking

    def probe(self, command="state"):
        with open(self._probe_out, "wb") as out:
            try:
                subprocess.run(["wine", self.probe_exe, command], stdin=subprocess.DEVNULL,
                               stdout=out, stderr=subprocess.DEVNULL, timeout=20)
            except subprocess.TimeoutExpired:
                raise AssertionError("tickora_probe %s did not answer within 20 s" % command)
        with open(self._probe_out, "rb") as f:
            text = f.read().decode("utf-8", "replace").strip()
        try:
            return json.loads(text)
        except ValueError:
            raise AssertionError("tickora_probe %s printed no JSON: %r" % (command, text[:200]))

    def state(self):
        if not self.alive():
            raise AssertionError("the program exited (code %s); log: %s"
                                 % (self.proc.returncode, self.log_path))
        self.last = self.probe("state")
        return self.last

    def wait_state(self, what, pred, timeout=10.0):
        def check():
            s = self.state()
            return s if s.get("found") and pred(s) else None
        try:
            return wait_for(what, check, timeout=timeout, interval=0.05)
        except AssertionError as e:
            raise AssertionError("%s; the program then: %s" % (e, summary(self.last)))

    def wait_ready(self, timeout=30.0):
        return self.wait_state("the main window", lambda s: s["enabled"], timeout)

    @staticmethod
    def control(s, cid):
        for c in s["controls"]:
            if c["id"] == cid:
                return c
        raise AssertionError("control %d not in the window: %r" % (cid, s["controls"]))

    @staticmethod
    def dialogs(s, kind):
        return [d for d in s["dialogs"] if d["kind"] == kind]

    def counts(self, timeout=5.0):
        """GDI objects, windows and kernel handles once they hold still (threads of a sound
        that just ended take a moment to go), with the number of files chosen so far."""
        keys = ("gdi_objects", "user_windows", "handles")
        previous = [None]

        def steady():
            s = self.state()
            now = {k: s[k] for k in keys}
            same = now == previous[0]
            previous[0] = now
            return now if same else None
        counts = wait_for("steady object counts", steady, timeout=timeout, interval=0.3)
        counts["files_chosen"] = self.files_chosen
        return counts

    def lamp(self):
        return tuple(self.state()["lamp"] or ())

    # acting

    def click_control(self, cid, s=None):
        s = s or self.state()
        click(*centre(self.control(s, cid)["rect"]))

    def focus(self, cid, attempts=12):
        """Moves the keyboard focus to a control with Tab, as a keyboard user would."""
        for _ in range(attempts):
            if self.state()["focus_id"] == cid:
                return
            key("Tab")
        raise AssertionError("Tab never reached control %d (focus: %s)"
                             % (cid, self.last["focus_id"]))

    def focus_slider(self):
        # A click on the tick marks above the channel gives the focus without moving the thumb.
        s = self.state()
        if s["focus_id"] != IDC_TEMPO_SLIDER:
            r = self.control(s, IDC_TEMPO_SLIDER)["rect"]
            before = s["slider"]
            click((r[0] + r[2]) // 2 + 40, r[1] + 3)
            s = self.wait_state("the slider to take the focus",
                                lambda st: st["focus_id"] == IDC_TEMPO_SLIDER, 5)
            assert s["slider"] == before, "focusing the slider moved it to %d" % s["slider"]
        park_mouse()

    def set_tempo_keys(self, *keys):
        self.focus_slider()
        key(*keys)

    def drop_down(self, rect):
        """Opens a drop-down list with a click. Under Wine a click that comes right after the
        list closed sometimes leaves it shut; a second click follows then."""
        for attempt in range(2):
            click(*centre(rect))
            try:
                return self.wait_state("the list to drop down",
                                       lambda st: st["combo_dropped"], 2 + 3 * attempt)
            except AssertionError:
                if attempt:
                    raise

    def close_box_xy(self, s=None):
        r = (s or self.state())["rect"]
        # Wine's caption: the close button's centre is 14 px from the right, 12 from the top.
        return (r[2] - 14, r[1] + 12)

    def open_file_dialog_via(self, cid):
        self.click_control(cid)
        park_mouse()
        return self.wait_state("the file-open dialog, in front and focused",
                               lambda s: any(d["focused"] for d in self.dialogs(s, "open")), 15)

    def choose_file(self, unix_path, via=IDC_SELECT_WAVE):
        """Selects a file in the program's file-open dialog by typing its Z:\\ path."""
        self.open_file_dialog_via(via)
        self.type_file_name(windows_path(unix_path))
        key("Return")
        s = self.wait_state("the file dialog to accept %s" % unix_path,
                            lambda s: not self.dialogs(s, "open") and s["enabled"], 15)
        self.files_chosen += 1
        return s

    def type_file_name(self, path, attempts=3):
        """Types path into the focused file-name box and reads it back: xdotool now and then
        loses a character it has to map to a spare key (the a-umlaut, say), so a garbled name
        is typed again."""
        def typed(s):
            boxes = [c for d in self.dialogs(s, "open") for c in d["controls"]
                     if c["id"] == FILE_NAME_BOX]
            return not boxes or boxes[0]["text"] == path
        for _ in range(attempts):
            type_text(path)
            try:
                self.wait_state("the file name to be typed", typed, 3)
                return
            except AssertionError:
                key("ctrl+a", "BackSpace")
        raise AssertionError("could not type %r into the file dialog" % path)

    def cancel_file_dialog(self):
        key("Escape")
        return self.wait_state("the file dialog to close",
                               lambda s: not self.dialogs(s, "open") and s["enabled"], 15)

    def message_boxes(self, s=None):
        return self.dialogs(s or self.state(), "message")

    def press_message_ok(self, s=None):
        """Clicks OK of the open message box."""
        boxes = self.message_boxes(s)
        assert boxes, "no message box to press OK on"
        ok = [c for c in boxes[0]["controls"] if c["id"] == IDOK]
        assert ok, "the message box has no OK button: %r" % boxes[0]
        click(*centre(ok[0]["rect"]))
        park_mouse()
        return self.wait_state("the message box to close",
                               lambda st: not self.message_boxes(st) and st["enabled"], 10)


def summary(s):
    """The parts of a probe state that tell what the program was doing."""
    if not s or not s.get("found"):
        return repr(s)
    keys = ("enabled", "foreground", "focus_id", "builtin", "speaker", "wave", "slider",
            "readout", "lamp", "priority_index", "combo_dropped")
    out = {k: s.get(k) for k in keys}
    out["dialogs"] = [(d["kind"], d["title"], d["focused"], d["text"]) for d in s["dialogs"]]
    return json.dumps(out)


# --- sound ---------------------------------------------------------------------------------

class Listener:
    """One recorder for a whole test class, started before the program so that it flows."""

    def __init__(self, workdir, name="heard"):
        self.rec = audio.Recorder(os.path.join(workdir, name + ".wav"))
        self.rec.wait_until_flowing()

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


class SoundServer:
    """The test bed's PulseAudio, for tests of a server that goes away and comes back. It is
    found by the pid file in its runtime directory and started again by scripts/testbed.sh,
    which knows how the test bed runs it."""

    def pid(self):
        path = os.path.join(os.environ["XDG_RUNTIME_DIR"], "pulse", "pid")
        with open(path) as f:
            pid = int(f.read().strip())
        with open("/proc/%d/comm" % pid) as f:
            assert f.read().strip() == "pulseaudio", "%s names no PulseAudio" % path
        return pid

    def kill(self):
        pid = self.pid()
        os.kill(pid, signal.SIGKILL)
        wait_for("PulseAudio (pid %d) to be gone" % pid,
                 lambda: not os.path.exists("/proc/%d" % pid), timeout=10, interval=0.02)

    def start(self):
        script = os.path.join(ROOT, "scripts", "testbed.sh")
        code = run_tool(["bash", "-c", 'source "$0" && testbed_restart_pulse', script],
                        timeout=60)
        assert code == 0, "the sound server did not start again (see the test bed's pulse.log)"


def screenshot(path):
    """The whole X screen, as the user would see it."""
    run_tool(["import", "-window", "root", path], timeout=30)
