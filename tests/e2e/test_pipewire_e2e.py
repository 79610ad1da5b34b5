"""The heard checks again with PipeWire as the sound server (pipewire-pulse, wireplumber), as
most Linux desktops now run it: the beat at 120 and 240 bpm (and the tempi between), the PC
speaker's bell, a wave file heard, a wave file that cannot be played, and the server going
away and coming back. scripts/run-on-pipewire.sh starts the private PipeWire."""
import os
import unittest

from test_panel_e2e import Dialogs, StartupAndBeat
from test_server_e2e import ServerGoesAway

HEARD_CHECKS = [
    (StartupAndBeat, "test_beat_tempo_keys_and_stop"),
    (StartupAndBeat, "test_pc_speaker_is_heard_once_per_beat"),
    (Dialogs, "test_wave_file_chosen_is_heard"),
    (Dialogs, "test_wave_file_without_a_file_reports_and_falls_back"),
    (ServerGoesAway, "test_built_in_click_reports_once_and_is_heard_again"),
]


def load_tests(loader, tests, pattern):
    # Run on PulseAudio by mistake, these would pass and prove nothing about PipeWire.
    if os.environ.get("TESTBED_SOUND_SERVER") != "pipewire":
        raise RuntimeError("the sound server is not PipeWire: run through "
                           "scripts/run-on-pipewire.sh")
    return unittest.TestSuite(cls(name) for cls, name in HEARD_CHECKS)


if __name__ == "__main__":
    unittest.main(verbosity=2)
