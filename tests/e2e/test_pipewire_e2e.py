"""The sound heard with PipeWire as the sound server (pipewire-pulse, wireplumber), as most
Linux desktops now run it: the beat at two tempos, the PC speaker's bell, a wave file, and
the server going away and coming back. What the program does with each is the business of
the other suites, on PulseAudio; here only what reaches the server is checked.
scripts/run-on-pipewire.sh starts the private PipeWire."""
import os
import unittest

from harness import IDC_SOUND_SPEAKER, park_mouse
from test_panel_e2e import E2ECase
from test_server_e2e import ServerGoesAway


class HeardOnPipeWire(E2ECase):

    def test_beat_at_120_and_240_bpm(self):
        app = self.app
        self.start_beat(app)
        self.assert_beat(500, 2500, "120 bpm")
        app.set_tempo_keys("End")
        app.wait_state("the read-out to show 240 bpm", lambda st: st["readout"] == "240 bpm", 5)
        self.ear.listen(300)
        self.assert_beat(250, 2500, "240 bpm")
        self.start_stop(app)
        self.assert_stopped(app)
        self.assert_silence(1500, "after Stop", settle_ms=300)

    def test_pc_speaker_bell(self):
        app = self.app
        app.click_control(IDC_SOUND_SPEAKER)
        park_mouse()
        app.wait_state("PC speaker to be checked", lambda st: st["speaker"], 3)
        self.start_beat(app)
        self.assert_beeps(5)
        self.start_stop(app)
        self.assert_stopped(app)

    def test_wave_file_is_heard(self):
        app = self.app
        folder = os.path.join(self.workdir, "tick sounds")
        s, hz = self.choose_tone_and_listen(app, folder, 3000, 2000, "3 kHz wave file")
        self.assertTrue(s["wave"])
        self.assertAlmostEqual(hz, 3000, delta=100)
        self.start_stop(app)
        self.assert_stopped(app)


class RestartOnPipeWire(ServerGoesAway):

    def test_server_goes_and_comes_back(self):
        """PipeWire's three processes killed with the beat running: reported once, and heard
        again once they are back."""
        app = self.app
        self.click_reported_once_and_heard_again(app)
        self.start_stop(app)
        self.assert_stopped(app)


HEARD_CHECKS = [
    (HeardOnPipeWire, "test_beat_at_120_and_240_bpm"),
    (HeardOnPipeWire, "test_pc_speaker_bell"),
    (HeardOnPipeWire, "test_wave_file_is_heard"),
    (RestartOnPipeWire, "test_server_goes_and_comes_back"),
]


def load_tests(loader, tests, pattern):
    # Run on PulseAudio by mistake, these would pass and prove nothing about PipeWire.
    if os.environ.get("TESTBED_SOUND_SERVER") != "pipewire":
        raise RuntimeError("the sound server is not PipeWire: run through "
                           "scripts/run-on-pipewire.sh")
    return unittest.TestSuite(cls(name) for cls, name in HEARD_CHECKS)


if __name__ == "__main__":
    unittest.main(verbosity=2)
