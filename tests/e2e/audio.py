"""Recording the private sound server and finding the clicks in what it heard.

Used by the end-to-end tests and the benchmarks. Standard library only.
"""
import cmath
import math
import os
import signal
import subprocess
import time
import wave
from array import array

RATE = 44100


class Recorder:
    """One parec capture of the null sink's monitor, started early and kept for a session.

    A fresh parec may deliver nothing for up to 2 s, so callers start one recorder and mark
    the moments they care about with offset_ms() instead of starting a new capture.
    Without --latency-msec=5 short clicks go missing from the capture.
    """

    def __init__(self, path, device="tick.monitor"):
        self.path = path
        self._out = open(path + ".log", "wb")
        self.proc = subprocess.Popen(
            ["parec", "--latency-msec=5", "--format=s16le", "--channels=1",
             "--rate=%d" % RATE, "-d", device, "--file-format=wav", path],
            stdout=self._out, stderr=subprocess.STDOUT, start_new_session=True)
        self.started = time.monotonic()

    def wait_until_flowing(self, timeout=10.0):
        """Waits until the capture file grows, i.e. parec really delivers audio."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(self.path) and os.path.getsize(self.path) > 44 + RATE // 5:
                return True
            time.sleep(0.05)
        raise TimeoutError("parec delivered no audio within %.0f s (see %s.log)"
                           % (timeout, self.path))

    def position_ms(self):
        """How far the capture has got, in ms of audio (the file's data bytes)."""
        size = os.path.getsize(self.path) if os.path.exists(self.path) else 44
        return max(0, size - 44) / 2 / RATE * 1000.0

    def stop(self):
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGINT)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait(timeout=5)
        self._out.close()


def read_samples(path):
    """Mono 16-bit samples of a wave file that parec may still be writing.

    parec fills in the header's sizes only when it ends, so the data size is taken from the
    file length.
    """
    with open(path, "rb") as f:
        data = f.read()
    pos = data.find(b"data")
    if pos < 0:
        return array("h")
    body = data[pos + 8:]
    body = body[:len(body) // 2 * 2]
    samples = array("h")
    samples.frombytes(body)
    return samples


def slice_ms(samples, start_ms, end_ms=None):
    start = int(start_ms * RATE / 1000)
    end = len(samples) if end_ms is None else int(end_ms * RATE / 1000)
    return samples[max(0, start):max(0, end)]


def find_onsets(samples, threshold=2000, refractory_ms=120, skip_ms=10):
    """Times (ms) where the signal first rises above threshold after refractory_ms of quiet.

    The first skip_ms are ignored: an idle null sink loses the first ~5 ms of a new stream.
    """
    onsets = []
    refractory = int(refractory_ms * RATE / 1000)
    i = int(skip_ms * RATE / 1000)
    n = len(samples)
    while i < n:
        if abs(samples[i]) >= threshold:
            onsets.append(i * 1000.0 / RATE)
            # Skip past the sound: quiet must last refractory samples before the next onset.
            quiet = 0
            while i < n and quiet < refractory:
                quiet = quiet + 1 if abs(samples[i]) < threshold else 0
                i += 1
            # The onset of the next sound counts from the end of this one's tail.
            continue
        i += 1
    return onsets


def intervals(onsets):
    return [b - a for a, b in zip(onsets, onsets[1:])]


def peak_amplitude(samples):
    return max((abs(s) for s in samples), default=0)


def spectral_peak_hz(samples, max_hz=12000, step_hz=10):
    """Frequency of the strongest component, by a direct DFT on a grid of step_hz.

    A click is short (a few thousand samples), so this is quick enough without numpy.
    """
    n = len(samples)
    if n == 0:
        return 0.0
    window = [0.5 - 0.5 * math.cos(2 * math.pi * k / max(1, n - 1)) for k in range(n)]
    x = [s * w for s, w in zip(samples, window)]
    best_hz, best_power = 0.0, -1.0
    for hz in range(step_hz, max_hz + 1, step_hz):
        w = -2j * math.pi * hz / RATE
        step = cmath.exp(w)
        acc = 0j
        rot = 1 + 0j
        for v in x:
            acc += v * rot
            rot *= step
        power = abs(acc)
        if power > best_power:
            best_hz, best_power = float(hz), power
    return best_hz


def percentile(values, p):
    if not values:
        return float("nan")
    s = sorted(values)
    k = max(0, min(len(s) - 1, int(math.ceil(p * len(s))) - 1))
    return s[k]


def median(values):
    if not values:
        return float("nan")
    s = sorted(values)
    m = len(s) // 2
    return s[m] if len(s) % 2 else (s[m - 1] + s[m]) / 2
