"""The shipped PE32 build end to end, inside the emulated i386 PC (tests/pe32/guest-run.sh):
start-up, a beat heard, Stop, the cannot-play message, the About box and the close, through
the same harness as tests/e2e. Everything runs many times slower under emulation, so the
waits are long and the sound is counted and put in order, never timed.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "e2e"))
import audio  # noqa: E402
import harness  # noqa: E402
from harness import (App, Listener, IDOK, IDC_ABOUT, IDC_SOUND_WAVE,  # noqa: E402
                     IDC_START_STOP, CANNOT_PLAY, LAMP_OFF, LAMP_ON, click, centre, key,
                     park_mouse, scratch_dir)

# The probe's Wine start, and each reading, take seconds in the guest.
harness.PROBE_TIMEOUT = 120.0
SLOW = 120.0
LISTEN_MS = 8000
QUIET = 300  # peak amplitude of a recording with no click in it


class PE32Smoke(unittest.TestCase):

    def setUp(self):
        for name in ("DISPLAY", "WINEPREFIX", "PULSE_SERVER"):
            self.assertTrue(os.environ.get(name), "%s is not set: run by guest-run.sh" % name)
        self.workdir = scratch_dir("smoke")
        self.ear = Listener(self.workdir, flowing_timeout=60.0)
        self.addCleanup(self.ear.stop)
        self.app = App(self.workdir, "pe32")
        self.addCleanup(self.app.kill)

    def step(self, what):
        print("step: %s" % what, flush=True)

    def test_start_beat_stop_fail_about_and_close(self):
        app = self.app
        self.step("start-up")
        # Under emulation the window can be seen a moment before its first data exchange has
        # checked a sound: wait for one, then it must be the built-in click.
        s = app.wait_state("the main window with a sound chosen",
                           lambda s: s["enabled"] and (s["builtin"] or s["speaker"] or s["wave"]),
                           300)
        self.assertEqual((s["builtin"], s["speaker"], s["wave"]), (True, False, False))
        self.assertEqual((s["slider"], s["readout"]), (120, "120 bpm"))
        self.assertEqual(tuple(s["lamp"]), LAMP_OFF)
        self.assertEqual(s["dialogs"], [])
        park_mouse()

        self.step("a beat at 120 bpm")
        app.click_control(IDC_START_STOP)
        park_mouse()
        app.wait_state("the lamp to light", lambda st: tuple(st["lamp"] or ()) == LAMP_ON, SLOW)
        start, end = self.ear.listen(LISTEN_MS)
        onsets = self.ear.onsets(start, end)
        iv = audio.intervals(onsets)
        print("  heard %d clicks in %d ms, median interval %.0f ms: %s"
              % (len(onsets), LISTEN_MS, audio.median(iv), [round(v) for v in iv]), flush=True)
        # Counted, not timed: emulation may delay clicks, never add any; a beat that died
        # after its first tick or never started is a click or two at most.
        expected = LISTEN_MS // 500
        self.assertTrue(expected // 4 <= len(onsets) <= expected + 1,
                        "%d clicks heard in %d ms at 120 bpm" % (len(onsets), LISTEN_MS))
        self.assertEqual(app.state()["readout"], "120 bpm")

        self.step("Stop")
        app.click_control(IDC_START_STOP)
        park_mouse()
        app.wait_state("the lamp to go dark", lambda st: tuple(st["lamp"] or ()) == LAMP_OFF,
                       SLOW)
        self.ear.listen(1000)
        start, end = self.ear.listen(3000)
        self.assertLess(self.ear.peak(start, end), QUIET, "a click heard after Stop")

        self.step("Wave File without a file")
        app.click_control(IDC_SOUND_WAVE)
        park_mouse()
        app.wait_state("the file-open dialog, focused",
                       lambda st: any(d["focused"] for d in App.dialogs(st, "open")), SLOW)
        key("Escape")
        s = app.wait_state("the file dialog to close",
                           lambda st: not App.dialogs(st, "open") and st["enabled"], SLOW)
        self.assertTrue(s["wave"], "Wave File no longer checked after cancelling")
        app.click_control(IDC_START_STOP, s)
        park_mouse()
        s = app.wait_state("the cannot-play message", lambda st: app.message_boxes(st), SLOW)
        box = app.message_boxes(s)[0]
        self.assertEqual((box["title"], box["text"]), ("Tickora", CANNOT_PLAY))
        ok = [c for c in box["controls"] if c["id"] == IDOK]
        self.assertTrue(ok, box)
        click(*centre(ok[0]["rect"]))
        park_mouse()
        s = app.wait_state("the message box to close",
                           lambda st: not app.message_boxes(st) and st["enabled"], SLOW)
        self.assertEqual((s["builtin"], s["speaker"], s["wave"]), (True, False, False))
        self.assertEqual(tuple(s["lamp"]), LAMP_OFF)

        self.step("About box")
        app.click_control(IDC_ABOUT, s)
        park_mouse()
        s = app.wait_state("the About box, focused",
                           lambda st: any(d["focused"] for d in App.dialogs(st, "about")), SLOW)
        self.assertEqual(App.dialogs(s, "about")[0]["title"], harness.ABOUT_CAPTION)
        key("Escape")
        s = app.wait_state("the About box to close",
                           lambda st: not st["dialogs"] and st["enabled"], SLOW)

        self.step("close")
        app.click_control(IDOK, s)
        park_mouse()
        self.assertEqual(app.wait_exit(SLOW, "the program to end after Quit"), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
