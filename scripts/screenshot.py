"""The program on a desktop with a window manager, as scripts/screenshot.sh starts it: waits
for the panel, saves the README's picture (the panel in its window manager's frame), then
opens and closes the About box, the file dialog and a message box, checking that each is a
top-level X window managed by the window manager, and prints how long each took to close.

    python3 scripts/screenshot.py <work-dir> <picture.png>

DISPLAY and WINEPREFIX come from scripts/screenshot.sh; the probe in TICKORA_PROBE.
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests", "e2e"))
import harness  # noqa: E402
from harness import (IDC_ABOUT, IDC_SELECT_WAVE, IDC_SOUND_WAVE, IDC_START_STOP,  # noqa: E402
                     key, park_mouse, run_tool, wait_for)
from testbed import x_windows  # noqa: E402

MAIN_TITLE = "Tickora 1.0"
# Closing a captioned window stalls Wine ~2 s where no window manager answers; well under
# that is a close that did not stall.
STALL_S = 1.0


class Running(harness.App):
    """The program already started by scripts/run-app.sh; only its probe is run from here."""

    def __init__(self, workdir):
        self.probe_exe = os.environ["TICKORA_PROBE"]
        self.env = None  # the probe runs in this script's own environment
        self.workdir = workdir
        self._probe_err = os.path.join(workdir, "probe.err")
        self._probe = None
        self.last = None
        self.files_chosen = 0
        self.proc = None

    def state(self):
        self.last = self.probe()
        return self.last


def xprop(window, name):
    r = subprocess.run(["xprop", "-id", str(window), name], stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10)
    return r.stdout.decode().strip()


def frame_of(window):
    """The window manager's frame around a client window: (x, y, width, height)."""
    out = subprocess.run(["xwininfo", "-id", str(window)], stdout=subprocess.PIPE,
                         timeout=10).stdout.decode()
    geo = {k: int(v) for k, v in re.findall(r"(Absolute upper-left [XY]|Width|Height):\s+(-?\d+)",
                                            out)}
    left, right, top, bottom = [int(v) for v in
                                re.findall(r"-?\d+", xprop(window, "_NET_FRAME_EXTENTS"))[-4:]]
    return (geo["Absolute upper-left X"] - left, geo["Absolute upper-left Y"] - top,
            geo["Width"] + left + right, geo["Height"] + top + bottom)


def own_managed_window(title):
    """The one X window of that title; it must carry the window manager's frame."""
    windows = wait_for("an X window titled %r" % title, lambda: x_windows(title), timeout=15)
    assert len(windows) == 1, "%d X windows titled %r" % (len(windows), title)
    extents = xprop(windows[0], "_NET_FRAME_EXTENTS")
    assert "=" in extents, "%r has no window manager frame (%s)" % (title, extents)
    return windows[0]


def close_time(title, close):
    """Seconds from the closing input until the X window of that title is gone."""
    t0 = time.monotonic()
    close()
    wait_for("%r to close" % title, lambda: not x_windows(title), timeout=15, interval=0.02)
    return time.monotonic() - t0


def main(workdir, picture):
    app = Running(workdir)
    try:
        take_pictures(app, workdir, picture)
    finally:
        app.stop_probe()


def take_pictures(app, workdir, picture):
    app.wait_state("the main window", lambda s: s["enabled"], timeout=180)
    main_window = own_managed_window(MAIN_TITLE)
    # Away from the screen's corner, so that the picture has some desktop around the frame.
    before = app.state()["rect"]
    run_tool(["xdotool", "windowmove", str(main_window), "40", "60"])
    app.wait_state("Wine to see the window moved", lambda s: s["rect"] != before, 10)
    park_mouse()
    time.sleep(0.5)  # any tooltip from the pointer's way out has gone
    full = os.path.join(workdir, "screen.png")
    harness.screenshot(full)
    x, y, w, h = frame_of(main_window)
    margin = 12
    run_tool(["convert", full, "-crop", "%dx%d+%d+%d" % (w + 2 * margin, h + 2 * margin,
                                                          x - margin, y - margin),
              "+repage", "-strip", picture], timeout=30)
    print("screenshot: %s (frame %dx%d at %d,%d)" % (picture, w, h, x, y))

    results = []
    app.click_control(IDC_ABOUT)
    park_mouse()
    own_managed_window(harness.ABOUT_CAPTION)
    harness.screenshot(os.path.join(workdir, "about.png"))
    results.append(("About box", close_time(harness.ABOUT_CAPTION, lambda: key("Return"))))

    app.click_control(IDC_SELECT_WAVE)
    park_mouse()
    own_managed_window("Open")
    harness.screenshot(os.path.join(workdir, "open.png"))
    results.append(("file dialog", close_time("Open", lambda: key("Escape"))))

    # Wave File with no file chosen: the dialog opens by itself; cancelled, the first beat
    # cannot play and says so.
    app.click_control(IDC_SOUND_WAVE)
    park_mouse()
    own_managed_window("Open")
    close_time("Open", lambda: key("Escape"))
    app.wait_state("the panel enabled again", lambda s: s["enabled"], 15)
    app.click_control(IDC_START_STOP)
    park_mouse()
    own_managed_window("Tickora")
    harness.screenshot(os.path.join(workdir, "message.png"))
    results.append(("message box", close_time("Tickora", lambda: key("Return"))))

    results.append(("panel", close_time(MAIN_TITLE, lambda: key("alt+F4"))))
    stalled = False
    for what, seconds in results:
        print("closing the %-12s %.3f s" % (what, seconds))
        stalled = stalled or seconds >= STALL_S
    if stalled:
        sys.exit("screenshot: a window took %.1f s or more to close" % STALL_S)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
