"""Results beyond single calls: long reads in chunks, whole-file facts, the
waveform and info documents the command writes, and the band helpers."""

from __future__ import annotations

import json

import numpy as np
import pytest
import soundfile

import harmidex
from conftest import RATE, call_script, run_command


@pytest.fixture(scope="module")
def long_mono(tmp_path_factory):
    # Longer than one getSamples call may return (2^22 frames).
    rng = np.random.default_rng(7)
    x = rng.integers(-32768, 32768, size=5_000_000 + 321, dtype=np.int16)
    path = tmp_path_factory.mktemp("long") / "long.wav"
    soundfile.write(path, x, RATE, subtype="PCM_16")
    return path, x


def test_a_read_past_the_list_cap_is_whole_and_exact(long_mono, counters_clean):
    path, x = long_mono
    with harmidex.open(path) as s:
        assert s.frames == len(x)
        assert harmidex._harmidex.max_list_values() < len(x)
        # A mono 16-bit frame x reads as exactly x / 32768.
        assert np.array_equal(s.samples(), x.astype(np.float32) / 32768)
        tail = s.samples(len(x) - 10, None, ampl_max=4.0)
        assert np.array_equal(tail, x[-10:].astype(np.float32) * 4 / 32768)
        assert s.amplitude() == np.abs(x.astype(np.float64)).max() / 32768
        assert s.samples(len(x) + 5).shape == (0,)


@pytest.mark.parametrize("name", ["wav", "mono", "mp3", "movie"])
def test_frames_duration_info_and_repr(media, name, counters_clean):
    path = str(media[name])
    told = json.loads(run_command("info", path, "--json").stdout)
    with harmidex.open(path) as s:
        assert s.info == told
        assert s.frames == told["frames"]
        assert s.duration == s.frames / s.rate
        text = repr(s)
        assert repr(path) in text and f"rate={s.rate:g} Hz" in text and f"{s.duration:.3f} s" in text


@pytest.mark.parametrize("options, cli", [
    ({}, []),
    (dict(samples_per_pixel=256, bits=8), ["--samples-per-pixel", "256", "--bits", "8"]),
    (dict(pixels_per_second=100, start=0.25, duration=0.5),
     ["--pixels-per-second", "100", "--start", "0.25", "--duration", "0.5"]),
])
def test_waveform_json_is_the_commands_byte_for_byte(media, tmp_path, options, cli,
                                                    counters_clean):
    path = str(media["mp3"])
    out = tmp_path / "w.json"
    run_command("waveform", path, "--json", str(out), *cli)
    with harmidex.open(path) as s:
        w = s.waveform(**options)
    assert w.to_json() == out.read_text()
    assert w.min.dtype == np.int16 and len(w.min) == len(w.max)
    assert (w.min <= w.max).all()


def test_bands_and_frequencies(counters_clean):
    ns = [0, 1, 2, 3, 200, 256, 8192, -5]
    printed = call_script([f"getEqualizedFreqCount({n})" for n in ns])
    assert [harmidex.bands(n) for n in ns] == [int(p) for p in printed]
    assert np.array_equal(harmidex.bin_frequencies(4, 8000.0), [0, 1000, 2000, 3000])
    assert np.array_equal(harmidex.band_edges(8, 16000.0), [0, 1000, 2000, 4000, 8000])


def test_version_and_help():
    from pathlib import Path
    import os
    version = (Path(os.environ.get("HARMIDEX_SOURCE_DIR", Path(__file__).parents[2])) / "VERSION")
    assert harmidex.__version__ == version.read_text().strip()
    for f in [harmidex.open, harmidex.Sound.fft, harmidex.Sound.spectrogram, harmidex.bands]:
        assert f.__doc__ and len(f.__doc__) > 40


def test_plot_example_draws_a_png(media, tmp_path):
    import os
    import subprocess
    import sys
    from pathlib import Path
    script = Path(os.environ.get("HARMIDEX_SOURCE_DIR", Path(__file__).parents[2])) / "examples" / "plot_sonogram.py"
    out = tmp_path / "plot.png"
    subprocess.run([sys.executable, str(script), str(media["mp3"]), "-o", str(out), "--bins", "256"],
                   check=True, capture_output=True)
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and out.stat().st_size > 10_000
