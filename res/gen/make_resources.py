#!/usr/bin/env python3
"""Writes Tickora's binary resources into res/.

    python3 res/gen/make_resources.py            # (re)write the files
    python3 res/gen/make_resources.py --report   # also print the click's measured figures

Outputs (all byte-for-byte reproducible, so they can live in version control):
    tickora.ico    application icon, 32x32 and 16x16, 16 colours
    light_on.ico   lamp lit, 16x16, 16 colours
    light_off.ico  lamp unlit, 16x16, 16 colours
    about.bmp      picture for the About box, 90x135, 256 colours
    tick.wav       the built-in click, 16-bit mono PCM at 44.1 kHz

Only the Python standard library is used.
"""

import cmath
import math
import os
import struct
import sys

RES_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

# ---------------------------------------------------------------------------
# 16-colour icons
# ---------------------------------------------------------------------------

# The standard Windows/VGA 16-colour palette, in its usual index order.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Letters used by the pixel grids below; '.' is transparent.
PIXEL_CODES = {
    "K": 0,   # black
    "D": 1,   # dark red
    "O": 3,   # olive
    "L": 7,   # light grey
    "G": 8,   # mid grey
    "R": 9,   # bright red
    "Y": 11,  # yellow
    "W": 15,  # white
}
TRANSPARENT = "."

LIGHT_ON = [
    "................",
    "................",
    "......GGGG......",
    "....GGKKKKGG....",
    "...GKKRRRRKK....",
    "...GKRRLRRRK....",
    "..GKRRLRLRRGK...",
    "..GKRRRLRRRRK...",
    "..GKRRRRRRRGK...",
    "..GKRRRRRRGRK...",
    "...GKRRRRGRK....",
    "...GKKGRGRKK....",
    "......KKKK......",
    "................",
    "................",
    "................",
]

LIGHT_OFF = [
    "................",
    "................",
    "......GGGG......",
    "....GGKKKKGG....",
    "...GKKDDDDKK....",
    "...GKDD.DDDK....",
    "..GKDD.D.DDGK...",
    "..GKDDD.DDDDK...",
    "..GKDDDDDDDGK...",
    "..GKDDDDDDGDK...",
    "...GKDDDDGDK....",
    "...GKKGDGDKK....",
    "......KKKK......",
    "................",
    "................",
    "................",
]

# Small application icon, drawn by hand: at 16x16 a rasterised shape turns to mush.
APP_ICON_16 = [
    "................",
    ".......KK.......",
    "......KOOK......",
    "......KDDK...W..",
    ".....KDDDDK.W...",
    ".....KDLLDKW....",
    ".....KDLLKYYK...",
    "....KDDLKYYK....",
    "....KDDLLWDK....",
    "...KDDLLWLDDK...",
    "...KDDLKLLLDK...",
    "..KDDDDDDDDDDK..",
    "..KDDDDDDDDDDK..",
    "KKKKKKKKKKKKKKKK",
    "KGGGGGGGGGGGGGGK",
    "KKKKKKKKKKKKKKKK",
]


def _grid_to_indices(rows):
    """Converts a list of pixel strings to rows of palette indices (None = transparent)."""
    out = []
    for row in rows:
        out.append([None if ch == TRANSPARENT else PIXEL_CODES[ch] for ch in row])
    return out


def _metronome_32():
    """The 32x32 application icon: a wooden metronome seen from the front.

    Built from simple shapes so the proportions stay easy to tweak: a
    trapezoid body with a darker outline, a light front panel with scale
    marks, a pendulum arm swung to the right with a brass weight, and a
    grey plinth."""
    size = 32
    px = [[None] * size for _ in range(size)]

    def body_half_width(y):
        # Body runs from y=2 (apex cap) to y=26; it widens linearly downwards.
        return 2.5 + (y - 2) * (8.5 / 24.0)

    cx = 15.5
    for y in range(2, 27):
        hw = body_half_width(y)
        for x in range(size):
            d = abs(x + 0.5 - cx)
            if d <= hw + 0.5:
                px[y][x] = 0 if d > hw - 0.5 or y == 2 else 1   # outline / wood

    # Olive cap at the apex.
    for x in range(14, 18):
        px[3][x] = 3
    # Light front panel, a narrower trapezoid inside the body.
    for y in range(8, 23):
        hw = body_half_width(y) - 3.0
        for x in range(size):
            if abs(x + 0.5 - cx) <= hw:
                px[y][x] = 7
    # Scale marks on the panel.
    for y in range(9, 22, 3):
        px[y][15] = 8
        px[y][16] = 8

    # Plinth.
    for y in range(26, 31):
        for x in range(2, 30):
            edge = y in (26, 30) or x in (2, 29)
            px[y][x] = 0 if edge else 8
    for x in range(3, 29):
        px[27][x] = 7   # highlight along the top of the plinth

    # Pendulum arm from the pivot near the bottom of the panel up and to the right.
    pivot = (15.5, 22.5)
    tip = (24.5, 1.5)
    steps = 200
    for i in range(steps + 1):
        t = i / steps
        x = pivot[0] + (tip[0] - pivot[0]) * t
        y = pivot[1] + (tip[1] - pivot[1]) * t
        ix, iy = int(x), int(y)
        if 0 <= ix < size and 0 <= iy < size:
            px[iy][ix] = 15
    # Weight, part way up the arm.
    wy = 9
    wt = (pivot[1] - (wy + 1)) / (pivot[1] - tip[1])
    wx = int(pivot[0] + (tip[0] - pivot[0]) * wt)
    for y in range(wy - 1, wy + 3):
        for x in range(wx - 2, wx + 3):
            border = y in (wy - 1, wy + 2) or x in (wx - 2, wx + 2)
            px[y][x] = 0 if border else 11
    # Pivot screw.
    px[22][15] = 0
    px[22][16] = 0
    return px


def _ico_image_4bpp(pixels):
    """One icon image: BITMAPINFOHEADER, 16-entry palette, XOR bitmap, AND mask."""
    h = len(pixels)
    w = len(pixels[0])
    xor_stride = ((w * 4 + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):              # DIBs are stored bottom-up
        line = bytearray(xor_stride)
        mline = bytearray(and_stride)
        for x, idx in enumerate(row):
            if idx is None:
                idx = 0                       # transparent: black colour, mask bit set
                mline[x // 8] |= 0x80 >> (x % 8)
            if x % 2 == 0:
                line[x // 2] |= idx << 4
            else:
                line[x // 2] |= idx
        xor += line
        mask += mline
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in VGA16)
    return header + palette + bytes(xor) + bytes(mask)


def make_ico(images):
    """Builds an .ico file from a list of pixel-index grids (largest first)."""
    blobs = [_ico_image_4bpp(img) for img in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for img, blob in zip(images, blobs):
        w, h = len(img[0]), len(img)
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


# ---------------------------------------------------------------------------
# About-box picture: 90x135, 8 bits per pixel
# ---------------------------------------------------------------------------

ABOUT_W, ABOUT_H = 90, 135

# Palette layout: each ramp is a run of indices blending between two colours,
# so drawing code can shade with "ramp start + level".
SKY0, SKY_N = 0, 96          # background gradient, top to bottom
WOOD0, WOOD_N = 96, 64       # body: dark to light wood
METAL0, METAL_N = 160, 48    # arm and plinth: dark to light steel
BRASS0, BRASS_N = 208, 40    # weight and trim
INK = 248                    # outline
PAPER = 249                  # scale panel
MARK = 250                   # scale marks


def _about_palette():
    def ramp(c0, c1, n):
        return [tuple(round(a + (b - a) * i / (n - 1)) for a, b in zip(c0, c1)) for i in range(n)]
    pal = []
    pal += ramp((24, 32, 72), (226, 176, 120), SKY_N)   # dusk blue to warm sand
    pal += ramp((70, 30, 12), (190, 110, 50), WOOD_N)
    pal += ramp((60, 64, 72), (235, 238, 245), METAL_N)
    pal += ramp((110, 80, 10), (255, 220, 90), BRASS_N)
    pal += [(16, 10, 6), (245, 235, 210), (90, 60, 40)]
    while len(pal) < 256:
        pal.append((0, 0, 0))
    return pal


def _about_pixels():
    W, H = ABOUT_W, ABOUT_H
    cx = W / 2.0
    top, bottom = 14.0, 112.0
    top_hw, bottom_hw = 9.0, 32.0
    pivot = (cx, 98.0)
    angle = math.radians(17.0)                 # arm swung to the right
    arm_len = 92.0
    tip = (pivot[0] + arm_len * math.sin(angle), pivot[1] - arm_len * math.cos(angle))
    weight_at = 0.55                           # fraction of the arm length

    def half_width(y):
        return top_hw + (bottom_hw - top_hw) * (y - top) / (bottom - top)

    def seg_dist(p, a, b):
        ax, ay = a
        bx, by = b
        px_, py_ = p
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((px_ - ax) * dx + (py_ - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(px_ - (ax + t * dx), py_ - (ay + t * dy)), t

    wc = (pivot[0] + (tip[0] - pivot[0]) * weight_at, pivot[1] + (tip[1] - pivot[1]) * weight_at)
    rows = []
    for y in range(H):
        row = []
        for x in range(W):
            fx, fy = x + 0.5, y + 0.5
            # Background: vertical gradient with a soft lighter glow behind the body.
            g = fy / H
            glow = math.exp(-((fx - cx) ** 2 + (fy - 60.0) ** 2) / (2 * 38.0 ** 2))
            level = g * 0.85 + glow * 0.25
            idx = SKY0 + min(SKY_N - 1, int(level * (SKY_N - 1)))

            # Plinth.
            if 112.0 <= fy < 124.0 and abs(fx - cx) <= 40.0:
                if fy < 113.5 or fy >= 122.5 or abs(fx - cx) > 38.5:
                    idx = INK
                else:
                    shade = 1.0 - (fy - 113.5) / 9.0
                    idx = METAL0 + int(8 + shade * 30)
            # Body.
            elif top <= fy < bottom and abs(fx - cx) <= half_width(fy):
                d = half_width(fy) - abs(fx - cx)
                if d < 1.5 or fy < top + 1.5:
                    idx = INK
                else:
                    # Light from the upper left: lighter on the left flank.
                    side = (fx - (cx - half_width(fy))) / (2 * half_width(fy))
                    grain = 0.06 * math.sin(fy * 0.9 + 3.0 * math.sin(fx * 0.21))
                    lv = 0.85 - 0.6 * side + grain
                    idx = WOOD0 + max(0, min(WOOD_N - 1, int(lv * (WOOD_N - 1))))
                    # Scale panel.
                    if 28.0 <= fy < 94.0 and abs(fx - cx) <= half_width(fy) - 9.0:
                        idx = PAPER
                        if abs(fx - cx) <= 3.0 and int(fy - 30.0) % 8 == 0:
                            idx = MARK
                        elif abs(fx - cx) <= 1.0 and int(fy - 30.0) % 4 == 0:
                            idx = MARK
            # Brass cap on the apex.
            if abs(fx - cx) <= 4.0 and top - 5.0 <= fy < top + 1.0:
                r = math.hypot((fx - cx) / 4.0, (fy - (top + 1.0)) / 6.0)
                if r <= 1.0:
                    idx = INK if r > 0.8 else BRASS0 + int((1.0 - r) * (BRASS_N - 1))

            # Pendulum arm.
            d, t = seg_dist((fx, fy), pivot, tip)
            if d <= 1.6:
                idx = METAL0 + int(min(1.0, 0.4 + (1.6 - d) / 1.6 * 0.6) * (METAL_N - 1))
            # Weight: a rounded rectangle aligned with the arm.
            ux, uy = math.sin(angle), -math.cos(angle)          # along the arm
            vx, vy = -uy, ux                                    # across the arm
            ru = (fx - wc[0]) * ux + (fy - wc[1]) * uy
            rv = (fx - wc[0]) * vx + (fy - wc[1]) * vy
            q = max(abs(ru) / 6.0, abs(rv) / 8.0)
            if q <= 1.0:
                if q > 0.82:
                    idx = INK
                else:
                    lv = 0.95 - 0.5 * (rv / 8.0 + 1.0) / 2.0 - 0.2 * (ru / 6.0)
                    idx = BRASS0 + max(0, min(BRASS_N - 1, int(lv * (BRASS_N - 1))))
            # Pivot.
            if math.hypot(fx - pivot[0], fy - pivot[1]) <= 2.6:
                idx = INK if math.hypot(fx - pivot[0], fy - pivot[1]) > 1.6 else BRASS0 + BRASS_N - 1
            row.append(idx)
        rows.append(row)
    return rows


def make_about_bmp():
    pal = _about_palette()
    pixels = _about_pixels()
    stride = (ABOUT_W + 3) & ~3
    bits = bytearray()
    for row in reversed(pixels):               # bottom-up DIB
        bits += bytes(row) + bytes(stride - ABOUT_W)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in pal)
    info = struct.pack("<IiiHHIIiiII", 40, ABOUT_W, ABOUT_H, 1, 8, 0, len(bits),
                       2835, 2835, 256, 0)
    off = 14 + len(info) + len(palette)
    filehdr = struct.pack("<2sIHHI", b"BM", off + len(bits), 0, 0, off)
    return filehdr + info + palette + bytes(bits)


# ---------------------------------------------------------------------------
# The click
# ---------------------------------------------------------------------------

RATE = 44100
CLICK_SAMPLES = 3990          # ~90 ms
WINDOW = 441                  # 10 ms
CREST_AT = 24                 # sample where every partial has its negative crest
KNEE = 16000.0                # start of the soft limiter
GAIN_ITERATIONS = 40          # refinement steps for the loudness contour
FIRST_SAMPLE = 171

# Decaying partials: (frequency Hz, amplitude, decay time constant in ms).
# A strong pair around 900 Hz gives the woody knock, the 3-9 kHz group the
# snap. Fitted once offline against the loudness contour below and the band
# shares printed by --report (about 38 % in 500-1000 Hz, 13 % in 2.5-5 kHz,
# 24 % in 5-7.5 kHz); fixed here so the output never changes.
PARTIALS = [
    (354.6, 1635.0, 24.566),
    (871.7, 7040.1, 14.000),
    (942.3, 4247.4, 20.000),
    (1298.8, 2885.6, 36.420),
    (2028.3, 2634.2, 28.029),
    (3088.5, 4562.5, 7.706),
    (3952.8, 5690.4, 6.971),
    (5554.0, 7133.3, 6.000),
    (6585.9, 8494.9, 5.389),
    (8287.5, 3830.4, 5.712),
]

# Wanted RMS of each 10 ms window, plus the last 21 samples (3969..3989).
WINDOW_RMS = [11950, 5719, 2916, 2070, 1773, 989, 590, 647, 397]
TAIL_RMS = 200

# What --check holds tick.wav to. +-5 % of a window's RMS is about 0.4 dB, under what anyone
# hears as a loudness change, yet a wrong gain, a shifted or truncated data block or a swapped
# byte order moves it far more; the last 21 samples are too few for a steady figure (+-10 %).
# +-3 points of a band's share leaves room for re-tuning the partials, while a different,
# filtered or resampled click moves it far more.
WINDOW_RMS_TOLERANCE = 0.05
TAIL_RMS_TOLERANCE = 0.10
PEAK_HZ = (800.0, 1000.0)
BAND_SHARES = {"share_500_1000": 0.38, "share_2500_5000": 0.13, "share_5000_7500": 0.24}
BAND_SHARE_TOLERANCE = 0.03


def _click_raw():
    """Sum of the partials, all with a negative crest at CREST_AT, faded in
    with a raised-cosine attack over the samples before it."""
    out = []
    for n in range(CLICK_SAMPLES):
        t = n - CREST_AT
        env = 0.5 - 0.5 * math.cos(math.pi * n / CREST_AT) if n < CREST_AT else 1.0
        s = 0.0
        for f, a, tau_ms in PARTIALS:
            decay = math.exp(-t / (tau_ms * RATE / 1000.0)) if t > 0 else 1.0
            s += a * decay * math.cos(2.0 * math.pi * f * t / RATE)
        out.append(-env * s)
    return out


def _gain_curve_points():
    # Gain is interpolated linearly between the centres of the RMS windows,
    # and held flat before the first and after the last centre.
    return [WINDOW // 2 + WINDOW * w for w in range(len(WINDOW_RMS))] + [CLICK_SAMPLES - 11]


def _gain_at(points, gains, n):
    if n <= points[0]:
        return gains[0]
    if n >= points[-1]:
        return gains[-1]
    for i in range(len(points) - 1):
        if n < points[i + 1]:
            u = (n - points[i]) / (points[i + 1] - points[i])
            return gains[i] + (gains[i + 1] - gains[i]) * u
    return gains[-1]


def _saturate(v):
    """Soft limiter: linear up to KNEE, then a tanh curve that approaches but
    never reaches full scale. The aligned crests are far louder than the rest
    of the click; squashing them like an overdriven recording keeps the body
    of the click loud without hard-clipping whole runs of samples."""
    a = abs(v)
    if a <= KNEE:
        return v
    span = 32767.0 - KNEE
    y = KNEE + span * math.tanh((a - KNEE) / span)
    return y if v > 0 else -y


def _quantise(raw, points, gains):
    out = []
    for n, v in enumerate(raw):
        q = math.floor(_saturate(v * _gain_at(points, gains, n)) + 0.5)
        out.append(max(-32768, min(32767, q)))
    out[0] = FIRST_SAMPLE
    out[CREST_AT] = -32768
    return out


def window_rms(samples):
    """RMS of windows 0..8 (441 samples each), then of the final 21 samples."""
    r = []
    for w in range(len(WINDOW_RMS)):
        seg = samples[w * WINDOW:(w + 1) * WINDOW]
        r.append(math.sqrt(sum(v * v for v in seg) / len(seg)))
    tail = samples[WINDOW * len(WINDOW_RMS):]
    r.append(math.sqrt(sum(v * v for v in tail) / len(tail)))
    return r


def click_samples():
    """The click as a list of int16 values.

    The partials give the tone colour; a slowly varying gain (one knot per
    10 ms window) then pulls each window's RMS onto its target. The knots are
    found by a fixed number of multiplicative refinement steps, so the result
    is deterministic."""
    raw = _click_raw()
    points = _gain_curve_points()
    targets = WINDOW_RMS + [TAIL_RMS]
    gains = [1.0] * len(points)
    for _ in range(GAIN_ITERATIONS):
        got = window_rms(_quantise(raw, points, gains))
        gains = [g * t / m for g, t, m in zip(gains, targets, got)]
    return _quantise(raw, points, gains)



def make_wav(samples):
    data = struct.pack("<%dh" % len(samples), *samples)
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def _dft(x):
    """DFT of any length via Bluestein's chirp-z transform (radix-2 FFTs inside)."""
    n = len(x)
    m = 1
    while m < 2 * n - 1:
        m *= 2

    def fft(a, inverse=False):
        a = list(a)
        j = 0
        for i in range(1, m):
            bit = m >> 1
            while j & bit:
                j ^= bit
                bit >>= 1
            j |= bit
            if i < j:
                a[i], a[j] = a[j], a[i]
        length = 2
        while length <= m:
            half = length // 2
            step = (2.0 if inverse else -2.0) * math.pi / length
            tw = [cmath.exp(1j * step * k) for k in range(half)]
            for s in range(0, m, length):
                for k in range(half):
                    u = a[s + k]
                    v = a[s + k + half] * tw[k]
                    a[s + k] = u + v
                    a[s + k + half] = u - v
            length *= 2
        if inverse:
            a = [v / m for v in a]
        return a

    chirp = [cmath.exp(-1j * math.pi * ((k * k) % (2 * n)) / n) for k in range(n)]
    b = [0j] * m
    for k in range(n):
        b[k] = chirp[k].conjugate()
        if k:
            b[m - k] = chirp[k].conjugate()
    fa = fft([x[k] * chirp[k] for k in range(n)] + [0j] * (m - n))
    fb = fft(b)
    c = fft([p * q for p, q in zip(fa, fb)], inverse=True)
    return [c[k] * chirp[k] for k in range(n)]


def spectrum_figures(samples):
    """Peak frequency and band energy shares.

    Definition: X[k] is the DFT of all 3990 samples (no window, no padding),
    bin k at f = k * 44100 / 3990 Hz, and only bins k = 0..1995 are used.
    A band's share is the sum of |X[k]|^2 over bins with lo <= f < hi,
    divided by the sum of |X[k]|^2 over all bins 0..1995. The peak is the
    bin 1..1995 with the largest |X[k]|."""
    n = len(samples)
    X = _dft([float(v) for v in samples])
    power = [abs(X[k]) ** 2 for k in range(n // 2 + 1)]
    total = sum(power)

    def share(lo, hi):
        return sum(p for k, p in enumerate(power) if lo <= k * RATE / n < hi) / total

    peak = max(range(1, n // 2 + 1), key=lambda k: power[k])
    return {
        "peak_hz": peak * RATE / n,
        "share_500_1000": share(500, 1000),
        "share_2500_5000": share(2500, 5000),
        "share_5000_7500": share(5000, 7500),
    }


# ---------------------------------------------------------------------------
# --check: the files in res/ are what this script makes, and meet its targets
# ---------------------------------------------------------------------------

def _read(name):
    with open(os.path.join(RES_DIR, name), "rb") as f:
        return f.read()


def wav_samples(data):
    """The samples of a 16-bit mono PCM wave file laid out as make_wav writes it."""
    if data[:4] != b"RIFF" or data[8:16] != b"WAVE" + b"fmt " or data[36:40] != b"data":
        raise ValueError("not a plain PCM wave file")
    channels, rate, bits = struct.unpack_from("<H", data, 22)[0], \
        struct.unpack_from("<I", data, 24)[0], struct.unpack_from("<H", data, 34)[0]
    if (channels, rate, bits) != (1, RATE, 16):
        raise ValueError("%d channels at %d Hz, %d bits" % (channels, rate, bits))
    size = struct.unpack_from("<I", data, 40)[0]
    return list(struct.unpack_from("<%dh" % (size // 2), data, 44))


def ico_letters(data):
    """Each image of a 4-bit .ico as rows of PIXEL_CODES letters, read back from the file."""
    letter_of = {index: letter for letter, index in PIXEL_CODES.items()}
    count = struct.unpack_from("<H", data, 4)[0]
    images = []
    for i in range(count):
        w, h, _, _, _, bits, _, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if bits != 4:
            raise ValueError("image %d has %d bits per pixel" % (i, bits))
        w, h = w or 256, h or 256
        xor_stride, and_stride = ((w * 4 + 31) // 32) * 4, ((w + 31) // 32) * 4
        xor_at = offset + 40 + 16 * 4
        and_at = xor_at + xor_stride * h
        rows = []
        for y in range(h):
            src = h - 1 - y                    # bottom-up
            row = ""
            for x in range(w):
                byte = data[xor_at + src * xor_stride + x // 2]
                index = byte >> 4 if x % 2 == 0 else byte & 15
                masked = data[and_at + src * and_stride + x // 8] & (0x80 >> (x % 8))
                row += TRANSPARENT if masked and index == 0 else \
                    "?" if masked else letter_of.get(index, "?")
            rows.append(row)
        images.append(rows)
    return images


def check_click(samples, problems):
    if samples[0] != FIRST_SAMPLE:
        problems.append("tick.wav: first sample %d, not %d" % (samples[0], FIRST_SAMPLE))
    if -32768 not in samples or samples.index(-32768) != CREST_AT:
        problems.append("tick.wav: first full negative scale not at sample %d" % CREST_AT)
    targets = WINDOW_RMS + [TAIL_RMS]
    tolerances = [WINDOW_RMS_TOLERANCE] * len(WINDOW_RMS) + [TAIL_RMS_TOLERANCE]
    for w, (got, want, tol) in enumerate(zip(window_rms(samples), targets, tolerances)):
        if abs(got - want) > want * tol:
            problems.append("tick.wav: window %d RMS %.0f, wanted %d +-%d %%" %
                            (w, got, want, tol * 100))
    figures = spectrum_figures(samples)
    if not PEAK_HZ[0] <= figures["peak_hz"] <= PEAK_HZ[1]:
        problems.append("tick.wav: spectral peak at %.0f Hz" % figures["peak_hz"])
    for key, want in BAND_SHARES.items():
        if abs(figures[key] - want) > BAND_SHARE_TOLERANCE:
            problems.append("tick.wav: %s is %.3f, wanted %.2f" % (key, figures[key], want))


def check(outputs):
    problems = []
    for name, data in outputs.items():
        if _read(name) != data:
            problems.append("%s differs from what this script makes" % name)
    check_click(wav_samples(_read("tick.wav")), problems)
    for name, grid in (("light_on.ico", LIGHT_ON), ("light_off.ico", LIGHT_OFF)):
        images = ico_letters(_read(name))
        if images != [grid]:
            problems.append("%s does not read back as its drawing: %s" % (name, images))
    for problem in problems:
        print("make_resources --check: " + problem)
    print("make_resources --check: %s" % ("FAILED" if problems else "all resources as made"))
    return 1 if problems else 0


def _write(name, data):
    path = os.path.join(RES_DIR, name)
    with open(path, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (path, len(data)))


def main(argv):
    samples = click_samples()
    outputs = {
        "tickora.ico": make_ico([_metronome_32(), _grid_to_indices(APP_ICON_16)]),
        "light_on.ico": make_ico([_grid_to_indices(LIGHT_ON)]),
        "light_off.ico": make_ico([_grid_to_indices(LIGHT_OFF)]),
        "about.bmp": make_about_bmp(),
        "tick.wav": make_wav(samples),
    }
    if "--check" in argv:
        return check(outputs)
    for name, data in outputs.items():
        _write(name, data)

    if "--report" in argv:
        print("first sample: %d" % samples[0])
        print("first -32768 at: %d" % samples.index(-32768))
        print("window RMS: " + ", ".join("%.0f" % v for v in window_rms(samples)))
        for key, value in spectrum_figures(samples).items():
            print("%s: %.3f" % (key, value))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
