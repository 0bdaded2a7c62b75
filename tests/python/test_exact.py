"""Every number is the float the module handed over: the package against
`harmidex call` (the strict host), file by file and call by call."""

from __future__ import annotations

import numpy as np
import pytest

import harmidex
from conftest import as_float32, call_script

FILES = ["wav", "mono", "mp3", "aac", "flac", "movie"]

# (Python call on a Sound, the same call as a script line on fileID 1).
# Frames past the end, a negative start, odd timesmooth, every option.
CALLS = [
    (lambda s: s.samples(0, 700), "getSamples(1, 0, 700)"),
    (lambda s: s.samples(-300, 900, ampl_max=128.0), "getSamples(1, -300, 900, 128.0)"),
    (lambda s: s.samples(s.frames - 250, 600, ampl_max=0.37), None),
    (lambda s: np.float32([s.amplitude(0, 60000)]), "getAmplitude(1, 0, 60000)"),
    (lambda s: np.float32([s.amplitude(20000, 5)]), "getAmplitude(1, 20000, 5)"),
    (lambda s: s.fft(), "getFFT(1)"),
    (lambda s: s.fft(12345, bins=1), "getFFT(1, 12345, 1)"),
    (lambda s: s.fft(5000, bins=1024, timesmooth=3), "getFFT(1, 5000, 1024, 3)"),
    (lambda s: s.fft(-700, bins=256, timesmooth=8, ampl_max=2.5), "getFFT(1, -700, 256, 8, 2.5)"),
    (lambda s: s.fft(9000, bins=8192, normalized=True), "getFFT(1, 9000, 8192, 1, 1.0, 1)"),
    (lambda s: s.fft(3000, bins=512, timesmooth=2, equalized=True, normalized=True),
     "getFFT(1, 3000, 512, 2, 1.0, 1, 1)"),
    (lambda s: s.fft(40000, bins=64, equalized=True, ampl_max=7),
     "getFFT(1, 40000, 64, 1, 7, 0, 1)"),
    (lambda s: np.float32([s.rate]), "getSampleRate(1)"),
]


@pytest.mark.parametrize("name", FILES)
def test_every_value_is_the_modules_float(media, name, counters_clean):
    path = str(media[name])
    with harmidex.open(path) as s:
        lines = [f'openQuicktimeFile("{path}")']
        ours = []
        for py_call, line in CALLS:
            if line is None:  # a call whose arguments depend on the file
                line = f"getSamples(1, {s.frames - 250}, 600, 0.37)"
            lines.append(line)
            ours.append(np.asarray(py_call(s), dtype=np.float32))
    printed = call_script(lines)
    assert printed[0] == "1"
    for (py_call, line), got, text in zip(CALLS, ours, printed[1:]):
        want = as_float32(text)
        assert got.dtype == np.float32
        assert got.shape == want.shape, line
        # Bit for bit, not within a tolerance.
        assert np.array_equal(got.view(np.uint32), want.view(np.uint32)), line


@pytest.mark.parametrize("kwargs", [
    dict(bins=512, hop=896),
    dict(bins=64, hop=1000, timesmooth=3, normalized=True, start=0.2, duration=0.5),
    dict(bins=128, equalized=True),
])
def test_spectrogram_columns_are_their_own_getfft_calls(media, kwargs, counters_clean):
    with harmidex.open(media["mp3"]) as s:
        sg = s.spectrogram(**kwargs)
        bins, ts = sg.bins, sg.timesmooth
        assert sg.values.dtype == np.float32
        assert sg.values.shape[0] == len(sg.times) == len(sg.starts)
        for col in range(sg.values.shape[0]):
            one = s.fft(int(sg.starts[col]), bins=bins, timesmooth=ts, normalized=sg.normalized,
                        equalized=sg.equalized)
            assert np.array_equal(one.view(np.uint32), sg.values[col].view(np.uint32)), col
        # Each column's block is centred on its time.
        assert np.array_equal(sg.times, (sg.starts + bins * ts) / s.rate)


def test_spectrogram_lays_columns_out_as_the_command(media):
    with harmidex.open(media["wav"]) as s:
        sg = s.spectrogram(bins=512, hop=896)
        columns = -(-s.frames // 896)
        # Column c is centred on (c + 0.5) * hop; its block starts bins frames before.
        assert np.array_equal(sg.starts, 448 + 896 * np.arange(columns) - 512)
        assert np.array_equal(sg.frequencies, np.arange(512) * s.rate / 1024)
        default = s.spectrogram(bins=64)
        assert default.values.shape == (1000, 64)
        edges = s.spectrogram(bins=64, equalized=True, hop=4410).frequencies
        assert np.array_equal(edges, np.array([0, 1, 2, 4, 8, 16, 32, 64]) * s.rate / 128)
