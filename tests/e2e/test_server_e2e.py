"""The sound server goes away while the beat runs, and comes back; then it stops answering.

Each test kills the test bed's PulseAudio with the beat running, waits two beats and starts it
again with the same socket, sink and bell. The program must neither hang nor crash, the panel
must keep answering, a failure is reported as for any sound that cannot be played, and once
the server is back the next Start is heard. Then the server is stopped (SIGSTOP) with the
beat running, the click held mid-play: Stop must still darken the lamp and Escape close the
panel within 2 s, before it answers again. A wave file chosen while the server is stopped
waits in its check: Escape closes the panel all the same, and of two files chosen meanwhile
the second beats once the server is back. The recorder goes with the server: a new one
listens once it is back.
"""
import os
import select
import signal
import subprocess
import time
import unittest

import audio
from harness import (App, Listener, SoundServer, CANNOT_PLAY, IDC_SOUND_SPEAKER,
                     IDC_START_STOP, LAMP_OFF, LAMP_ON, key, park_mouse, summary, wait_for,
                     write_wave)
from test_panel_e2e import E2ECase
from testbed import proc_read

PERIOD_MS = 500  # the panel's 120 bpm
CLICK_HZ = (800, 1000)  # the built-in click's first 30 ms
BELL_HZ = (1900, 2100)  # the test bed's X bell sample
TONE_HZ = (2900, 3100)  # the wave file below
LOW_TONE_HZ = (1400, 1600)  # a second one


class ServerGoesAway(E2ECase):

    def setUp(self):
        super().setUp()
        self.server = SoundServer()
        self.server_down = False
        self.stopped_pids = []
        self.listeners = 0
        # Whatever fails, the tests after this one need the server and a recorder.
        self.addCleanup(self.bring_server_back)

    def bring_server_back(self):
        if not self.server_down:
            return
        if self.stopped_pids:
            self.signal_stopped(signal.SIGCONT)
            self.stopped_pids = []
        else:
            self.server.start()
        self.server_down = False
        self.listeners += 1
        type(self).ear = Listener(self.workdir, "%s.%d" % (self._testMethodName, self.listeners))

    def lose_server_while_beating(self, app, hz, what):
        self.start_stop(app)
        self.assert_running(app)
        self.wait_heard(hz, "%s before the server goes" % what)
        self.ear.stop()
        self.server_down = True
        self.server.kill()
        # Two beats go by with nothing to play on; the panel must answer all the while.
        for _ in range(2):
            time.sleep(PERIOD_MS / 1000)
            app.state()

    def signal_stopped(self, sig):
        for pid in self.stopped_pids:
            os.kill(pid, sig)

    def stop_server_in_next_stream(self):
        """Stops the server (SIGSTOP) as soon as it has opened the next sound's stream: that
        sound is then held mid-play, every time. There Wine's silence of it holds winmm's own
        lock until the server answers; a sound held in its open leaves the lock free."""
        events = subprocess.Popen(["pactl", "subscribe"], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, text=True)
        try:
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                ready, _, _ = select.select([events.stdout], [], [], 0.1)
                if ready and "'new' on sink-input" in events.stdout.readline():
                    self.signal_stopped(signal.SIGSTOP)
                    return
            raise AssertionError("no new stream on the server within 5 s")
        finally:
            events.kill()
            events.wait()
            events.stdout.close()

    def stop_and_close_while_server_stopped(self, app, hz, what, mid_play=False):
        """The server stops answering while the beat runs, with the sound held mid-play when
        mid_play is set: a tick and the panel's own sound calls may wait on it for ever. Stop
        must darken the lamp, and Escape close the panel within a user's 2 s, all the same,
        while the server is still stopped."""
        self.start_stop(app)
        self.assert_running(app)
        self.wait_heard(hz, "%s before the server stops" % what)
        self.ear.stop()
        self.server_down = True
        self.stopped_pids = sorted(self.server.pids())
        if mid_play:
            self.stop_server_in_next_stream()
        else:
            self.signal_stopped(signal.SIGSTOP)
        # Two beats run into the stopped server.
        time.sleep(2 * PERIOD_MS / 1000)
        self.start_stop(app)
        app.wait_state("the lamp to go dark with the server stopped",
                       lambda st: tuple(st["lamp"]) == LAMP_OFF, 10)
        key("Escape")
        escaped = time.monotonic()
        # Wine's own teardown may wait on the server and the process linger: the window going
        # is what counts.
        wait_for("the panel to close within 2 s with the server stopped",
                 lambda: not app.alive() or not app.probe()["found"], timeout=2)
        print("  %s: the panel closed %.2f s after Escape" % (what, time.monotonic() - escaped))
        states = [(proc_read(pid, "stat") or b"gone) gone").rsplit(b")", 1)[1].split()[0]
                  for pid in self.stopped_pids]
        self.assertEqual(set(states), {b"T"}, "the server answered again meanwhile")
        self.bring_server_back()

    def wait_heard(self, hz, what, timeout=10.0):
        """Waits for the next sound to be heard and checks its pitch: a beat heard is an
        event, not a count in a window."""
        mark = self.ear.mark()

        def heard():
            now = self.ear.mark()
            onsets = self.ear.onsets(mark, now - 60)
            return onsets[0] if onsets else None
        onset = wait_for("%s to be heard" % what, heard, timeout=timeout, interval=0.05)
        peak = audio.spectral_peak_hz(self.ear.samples(onset, onset + 30), step_hz=20)
        print("  %s: heard %.0f ms after the mark, peaking at %.0f Hz" % (what, onset - mark, peak))
        self.assertTrue(hz[0] <= peak <= hz[1], "%s peaks at %.0f Hz, not in %s" % (what, peak, hz))

    def restart_is_heard(self, app, hz, what):
        s = app.state()
        if tuple(s["lamp"]) == LAMP_ON:
            self.start_stop(app)
            self.assert_stopped(app)
        self.start_stop(app)
        self.assert_running(app)
        self.wait_heard(hz, "%s at the next Start" % what)
        self.start_stop(app)
        self.assert_stopped(app)

    def click_reported_once_and_heard_again(self, app):
        """The server lost under a beating click: one cannot-play message with the beat going
        on, and the running beat heard again once the server is back."""
        self.lose_server_while_beating(app, CLICK_HZ, "the click")
        s = app.wait_state("the cannot-play message", lambda st: app.message_boxes(st), 5)
        self.assertEqual([b["text"] for b in app.message_boxes(s)], [CANNOT_PLAY])
        self.assertEqual(tuple(s["lamp"]), LAMP_ON, "the beat stopped behind the message")
        app.press_message_ok()
        # The ticks fail on until the server is back (it takes a few beats to start), but
        # the report is not repeated: once the beat is heard again, no second box has come.
        self.bring_server_back()
        self.wait_heard(CLICK_HZ, "the running beat once the server is back")
        s = app.state()
        self.assertEqual((app.message_boxes(s), tuple(s["lamp"])), ([], LAMP_ON))

    def test_built_in_click_reports_once_and_is_heard_again(self):
        app = self.app
        self.click_reported_once_and_heard_again(app)
        self.restart_is_heard(app, CLICK_HZ, "the click")
        self.stop_and_close_while_server_stopped(app, CLICK_HZ, "the click", mid_play=True)

    def test_pc_speaker_beeps_on_and_is_heard_again(self):
        app = self.app
        app.click_control(IDC_SOUND_SPEAKER)
        park_mouse()
        app.wait_state("PC speaker to be checked", lambda st: st["speaker"], 3)
        self.lose_server_while_beating(app, BELL_HZ, "the beep")
        # The beep goes to the X bell: the program cannot tell that nobody plays it.
        s = app.state()
        self.assertEqual((s["dialogs"], tuple(s["lamp"])), ([], LAMP_ON))
        self.bring_server_back()
        self.restart_is_heard(app, BELL_HZ, "the beep")
        self.stop_and_close_while_server_stopped(app, BELL_HZ, "the beep")

    # Wine answers a wave-out format query from what it learned when it first connected, and
    # its asynchronous PlaySoundA reports success with no server: a tick can tell only by
    # opening a device for real.
    def test_wave_file_stops_with_the_message_and_is_heard_again(self):
        app = self.app
        folder = os.path.join(self.workdir, "server wave")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "tone.wav")
        write_wave(path, [(3000, 50, 16000)])
        app.choose_file(path)
        self.lose_server_while_beating(app, TONE_HZ, "the wave file")
        s = app.wait_state("the cannot-play message", lambda st: app.message_boxes(st), 5)
        self.assertEqual([b["text"] for b in app.message_boxes(s)], [CANNOT_PLAY])
        self.assertEqual(tuple(s["lamp"]), LAMP_OFF, "the beat goes on behind the message")
        s = app.press_message_ok()
        self.assertEqual((s["builtin"], s["wave"]), (True, False))
        self.bring_server_back()
        self.restart_is_heard(app, CLICK_HZ, "the click after the wave file")
        app.choose_file(path)
        self.stop_and_close_while_server_stopped(app, TONE_HZ, "the wave file")

    def pause_server(self):
        self.ear.stop()
        self.server_down = True
        self.stopped_pids = sorted(self.server.pids())
        self.signal_stopped(signal.SIGSTOP)

    def choose_once_server_heard(self, app, path):
        """Plays the click once, so that Wine has reached the server, then stops the server
        and chooses path: its check waits in the device open."""
        self.start_stop(app)
        self.wait_heard(CLICK_HZ, "the click before the server stops")
        self.start_stop(app)
        self.assert_stopped(app)
        self.pause_server()
        self.choose_while_check_waits(app, path)

    def choose_while_check_waits(self, app, path):
        s = app.choose_file(path, checked=False)
        self.assertEqual((s["wave"], app.message_boxes(s)), (False, []), "the check did not wait")

    # A chosen file's check waits on the server off the panel's thread, and only the latest
    # choice's check counts.
    def test_wave_file_check_waiting_on_the_server_holds_up_neither_close_nor_choice(self):
        folder = os.path.join(self.workdir, "waiting checks")
        os.makedirs(folder, exist_ok=True)
        first, second = os.path.join(folder, "first.wav"), os.path.join(folder, "second.wav")
        write_wave(first, [(3000, 50, 16000)])
        write_wave(second, [(1500, 50, 16000)])
        app = self.app
        self.choose_once_server_heard(app, first)
        key("Escape")
        escaped = time.monotonic()

        def gone_with_no_box():
            if not app.alive():
                return True
            s = app.probe()
            self.assertFalse(s["found"] and s["dialogs"], "a box on the way out: " + summary(s))
            return not s["found"]
        # A user's bound.
        wait_for("the panel to close while the check waits", gone_with_no_box, timeout=2)
        print("  the panel closed %.2f s after Escape" % (time.monotonic() - escaped))
        self.bring_server_back()

        app = self.start_app("second choice")
        self.choose_once_server_heard(app, first)
        self.choose_while_check_waits(app, second)
        self.bring_server_back()
        s = app.wait_state("the second file to be taken", lambda st: st["wave"], 10)
        self.assertEqual(app.message_boxes(s), [])
        self.start_stop(app)
        self.wait_heard(LOW_TONE_HZ, "the second file")
        self.start_stop(app)


if __name__ == "__main__":
    unittest.main(verbosity=2)
