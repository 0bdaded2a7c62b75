"""Failures: the module's codes and texts become exceptions of the right
kinds, with the command's own explanations."""

from __future__ import annotations

import os
import pathlib

import pytest

import harmidex
from conftest import call_script, run_command


class _Fspath:
    def __init__(self, p):
        self.p = p

    def __fspath__(self):
        return self.p


@pytest.mark.parametrize("name, make, builtin, code", [
    ("missing", lambda m, d: d / "missing.wav", FileNotFoundError, -43),
    ("missing folder", lambda m, d: d / "no folder" / "a.wav", FileNotFoundError, -43),
    ("directory", lambda m, d: d, IsADirectoryError, -1302),
    ("text", lambda m, d: m["text"], None, -2010),
    ("video only", lambda m, d: m["video_only"], None, -2009),
])
def test_open_failure_is_explained_as_the_command_does(media, tmp_path, name, make, builtin, code,
                                                       counters_clean):
    path = str(make(media, tmp_path))
    with pytest.raises(harmidex.OpenError) as caught:
        harmidex.open(path)
    e = caught.value
    assert e.code == code
    if builtin is not None:
        assert isinstance(e, builtin)
        assert e.filename == path
    else:
        assert not isinstance(e, OSError)
    told = run_command("rate", path, check=False)
    assert told.returncode == 1
    assert str(e) == told.stderr.rstrip("\n")
    assert str(e).startswith(e.text + f" (code {code}: ")


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_unreadable_file_is_a_permission_error(media, tmp_path):
    p = tmp_path / "locked.wav"
    p.write_bytes(media["wav"].read_bytes())
    p.chmod(0)
    with pytest.raises(PermissionError) as caught:
        harmidex.open(p)
    assert isinstance(caught.value, harmidex.Error)


@pytest.mark.parametrize("call, line", [
    (lambda s: s.fft(0, bins=3), "getFFT(1, 0, 3)"),
    (lambda s: s.fft(0, bins=16384), "getFFT(1, 0, 16384)"),
    (lambda s: s.fft(0, timesmooth=0), "getFFT(1, 0, 256, 0)"),
    (lambda s: s.samples(0, -1), "getSamples(1, 0, -1)"),
    (lambda s: s.amplitude(0, -5), "getAmplitude(1, 0, -5)"),
    (lambda s: s.spectrogram(bins=6, hop=1000), "getFFT(1, 494, 6)"),
])
def test_method_failure_raises_value_error_with_the_modules_text(media, call, line,
                                                                 counters_clean):
    path = str(media["wav"])
    printed = call_script([f'openQuicktimeFile("{path}")', line, "getError()"])
    assert printed[1] == "0"
    want = printed[2][1:-1]  # the quoted text
    with harmidex.open(path) as s:
        with pytest.raises(ValueError) as caught:
            call(s)
    assert isinstance(caught.value, harmidex.MethodError)
    assert caught.value.text == want == str(caught.value)


@pytest.mark.parametrize("call", [
    lambda s: s.samples("0", 10),
    lambda s: s.samples(0, 1.5),
    lambda s: s.samples(0, 10, ampl_max="1"),
    lambda s: s.amplitude(0.0, 10),
    lambda s: s.fft(bins=256.0),
    lambda s: s.fft(timesmooth=None),
    lambda s: s.fft(normalized="yes"),
    lambda s: s.fft(ampl_max=True),
    lambda s: s.spectrogram(hop=896.0),
    lambda s: s.spectrogram(start="0"),
    lambda s: harmidex.bands("256"),
    lambda s: harmidex.open(3),
    lambda s: harmidex.open(None),
])
def test_wrong_python_type_is_a_type_error(media, call, counters_clean):
    with harmidex.open(media["wav"]) as s:
        with pytest.raises(TypeError):
            call(s)


def test_out_of_range_arguments_are_value_errors(media, counters_clean):
    with harmidex.open(media["wav"]) as s:
        for call in [lambda: s.samples(2**31, 1), lambda: s.fft(-2**31 - 1),
                     lambda: s.samples(2**31 - 5, 10), lambda: s.spectrogram(hop=0),
                     lambda: s.spectrogram(start=5.0), lambda: s.waveform(bits=12),
                     lambda: s.spectrogram(bins=8192, hop=1),
                     lambda: s.spectrogram(bins=8192, hop=1, equalized=True, duration=3600.0),
                     lambda: s.samples(0, s.frames + 2**22 + 1)]:
            with pytest.raises(ValueError):
                call()
    with pytest.raises(ValueError, match="null byte"):
        harmidex.open("a\0b.wav")


@pytest.mark.parametrize("kind", [str, os.fsencode, pathlib.Path, _Fspath])
def test_every_path_type_opens_the_same_file(media, kind, counters_clean):
    with harmidex.open(kind(str(media["mono"]))) as s:
        assert s.rate == 48000.0
        assert s.frames == 35280  # 0.8 s of frames made at 44.1 kHz


def test_a_closed_sound_refuses_every_call_and_closes_twice(media, counters_clean):
    s = harmidex.open(media["wav"])
    s.close()
    s.close()
    assert s.closed
    assert "closed" in repr(s)
    for call in [lambda: s.rate, lambda: s.frames, lambda: s.info, lambda: s.samples(0, 1),
                 lambda: s.amplitude(0, 1), lambda: s.fft(), lambda: s.spectrogram(),
                 lambda: s.waveform(), lambda: s.__enter__()]:
        with pytest.raises(ValueError, match="closed"):
            call()
