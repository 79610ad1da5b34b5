"""Driving the real Tickora under Wine: start it as a user would, give it real X input with
xdotool, read its state through tickora_probe, listen to it through the private sound server.

The environment (DISPLAY, WINEPREFIX, PULSE_SERVER, ...) comes from scripts/run-tests.sh;
CTest passes the paths of the programs in TICKORA_EXE and TICKORA_PROBE and a scratch
directory in TICKORA_E2E_DIR. Every wait here is bounded and says what it waited for.
"""
import json
import math
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import unittest
import wave

import audio
# The test bed's pieces, used here and by the tests through this module.
from testbed import (ROOT, Listener, Program, SoundServer, WineProgram, centre,  # noqa: F401
                     click, key, park_mouse, run_tool, screenshot, type_text, wait_for,
                     x_windows)

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


def program_text(pattern):
    """A text of the program's own as res/tickora.rc gives it (pattern: a regular expression
    whose group is the quoted text). The tests' one copy of the words is in
    tests/support/ProgramTexts.h, which the compiled resources are checked against."""
    with open(os.path.join(ROOT, "res", "tickora.rc"), encoding="ascii") as f:
        quoted = re.search(pattern, f.read(), re.S).group(1)
    return quoted.replace("\\n", "\n").replace('""', '"')


CANNOT_PLAY = program_text(r'IDS_CANNOT_PLAY\s+"((?:[^"]|"")*)"')
ABOUT_CAPTION = program_text(r'IDD_ABOUTBOX\s+DIALOG\b.*?\nCAPTION\s+"((?:[^"]|"")*)"')
LAMP_ON = (255, 0, 0)
LAMP_OFF = (128, 0, 0)
# How long one probe may take; a run under full-system emulation raises it.
PROBE_TIMEOUT = 20.0


def env_path(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest("%s is not set: run through ctest (scripts/run-tests.sh)" % name)
    return value


def check_testbed():
    for name in ("DISPLAY", "WINEPREFIX", "PULSE_SERVER"):
        if not os.environ.get(name):
            raise RuntimeError("%s is not set: run through scripts/run-tests.sh" % name)
    for tool in ("wine", "xdotool", "parec"):
        if not shutil.which(tool):
            raise RuntimeError("%s not found" % tool)
    # Letters that a key mapped only while xdotool types reach a program that reads them late
    # after the map has changed back: the test bed gives them keys that stay.
    keymap = subprocess.run(["xmodmap", "-pke"], stdout=subprocess.PIPE, text=True,
                            timeout=10).stdout.split()
    for letter in ("adiaeresis", "udiaeresis", "eacute"):
        if letter not in keymap:
            raise RuntimeError("no key types %s on the test bed's X display" % letter)


def scratch_dir(name):
    path = os.path.join(env_path("TICKORA_E2E_DIR"), name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


FILE_NAME_BOX = 0x47C  # cmb13, the explorer-style file dialog's file-name box


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
    """One tickora.exe started with `wine`, as a user would (or by another command, such as
    the installed launcher, with its own environment); stopped by its own pid."""

    def __init__(self, workdir, name="app", wine_env=None, command=None, env=None):
        self.exe = env_path("TICKORA_EXE")
        self.probe_exe = env_path("TICKORA_PROBE")
        self.workdir = workdir
        self.log_path = os.path.join(workdir, name + ".log")
        if command:
            # The whole environment is env, which may leave out what the caller's has.
            self.program = Program(command, self.log_path, cwd=workdir, base_env=env)
        else:
            self.program = WineProgram(self.exe, self.log_path, wine_env, cwd=workdir)
        self.env = env
        self.proc = self.program.proc
        self.pid = self.program.pid
        self._probe_err = os.path.join(workdir, name + ".probe.err")
        self._probe = None
        self.last = None
        self.files_chosen = 0

    # process

    def alive(self):
        return self.program.alive()

    def wait_exit(self, timeout=10.0, what="the program to exit"):
        return self.program.wait_exit(timeout, what)

    def kill(self):
        self.program.kill()
        self.stop_probe()

    def stop_probe(self):
        if self._probe:
            self._probe.stop()
            self._probe = None

    def close(self):
        """Clicks the close box, as a user ends it; killed if it does not end."""
        self.program.end(lambda: click(*self.close_box_xy()))

    # looking

    def probe(self):
        """The probe's reading. A probe that gave none (its Wine process did so once in a run
        of the suites, for a reason not yet seen) is started anew and asked once more."""
        for attempt in range(2):
            if self._probe is None:
                self._probe = Probe(self.probe_exe, self._probe_err, self.env)
            reading = self._probe.read(PROBE_TIMEOUT)
            if reading is not None:
                return reading
            self._probe.stop()
            self._probe = None
        raise AssertionError("tickora_probe gave no reading, see above")

    def state(self):
        if not self.alive():
            raise AssertionError("the program exited (code %s); log: %s"
                                 % (self.proc.returncode, self.log_path))
        self.last = self.probe()
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
        if self.env is not None:
            # Its own X window, with no window manager to give it the keyboard.
            def focused():
                windows = x_windows("Open")
                return windows and run_tool(["xdotool", "windowfocus", "--sync",
                                             str(windows[0])], timeout=10) == 0
            wait_for("the file dialog's X window to take the keyboard", focused, timeout=15,
                     interval=0.2)
        return self.wait_state("the file-open dialog, in front and focused",
                               lambda s: any(d["focused"] for d in self.dialogs(s, "open")), 15)

    def choose_file(self, unix_path, via=IDC_SELECT_WAVE, refused=False, checked=True):
        """Selects a file in the program's file-open dialog by typing its Z:\\ path. A file
        the program refuses (refused=True) leaves its message box open; checked=False waits
        only for the dialog to go, not for the program's check of the file."""
        self.open_file_dialog_via(via)
        self.type_file_name(windows_path(unix_path))
        key("Return")
        if not checked:
            s = self.wait_state("the file dialog to go after choosing %s" % unix_path,
                                lambda s: not self.dialogs(s, "open") and s["enabled"], 15)
        elif refused:
            s = self.wait_state("the program to refuse %s" % unix_path,
                                lambda s: not self.dialogs(s, "open") and self.message_boxes(s),
                                15)
        else:
            # The program checks the file before it takes it: Wave File is checked after that.
            s = self.wait_state("the program to take %s" % unix_path,
                                lambda s: not self.dialogs(s, "open") and s["enabled"]
                                and s["wave"], 15)
        self.files_chosen += 1
        return s

    def type_file_name(self, path, attempts=3):
        """Types path into the focused file-name box and reads it back; a garbled name is
        typed again."""
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
                # Wine's edit box takes no Ctrl+A: select the line from its end instead.
                key("End", "shift+Home", "BackSpace")
        boxes = [c["text"] for d in self.dialogs(self.last, "open") for c in d["controls"]
                 if c["id"] == FILE_NAME_BOX]
        raise AssertionError("could not type %r into the file dialog; it holds %r"
                             % (path, boxes))

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


class Probe:
    """One tickora_probe kept running in the program's prefix: a reading is one line asked for
    on its stdin and one JSON line read back. Stopped by its own pid."""

    def __init__(self, exe, err_path, env=None):
        self._err = open(err_path, "ab")
        self.proc = subprocess.Popen(["wine", exe], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self._err,
                                     start_new_session=True, env=env)
        self._asked = True  # its first reading comes unasked

    def read(self, timeout):
        """The next reading, or None (said why) if none came within timeout seconds. It writes
        each reading whole, at once: a line begun is a line that ends."""
        try:
            if not self._asked:
                self.proc.stdin.write(b"\n")
                self.proc.stdin.flush()
            self._asked = False
            if not select.select([self.proc.stdout], [], [], timeout)[0]:
                raise OSError("none within %.0f s" % timeout)
            return json.loads(self.proc.stdout.readline())
        except (OSError, ValueError) as e:
            print("  tickora_probe gave no reading: %s (exit %s; its stderr: %s)"
                  % (e, self.proc.poll(), self._err.name))
            return None

    def stop(self):
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGKILL)
            self.proc.wait(timeout=10)
        for f in (self.proc.stdin, self.proc.stdout, self._err):
            f.close()


def summary(s):
    """The parts of a probe state that tell what the program was doing."""
    if not s or not s.get("found"):
        return repr(s)
    keys = ("enabled", "foreground", "focus_id", "builtin", "speaker", "wave", "slider",
            "readout", "lamp", "priority_index", "combo_dropped")
    out = {k: s.get(k) for k in keys}
    out["dialogs"] = [(d["kind"], d["title"], d["focused"], d["text"]) for d in s["dialogs"]]
    return json.dumps(out)
