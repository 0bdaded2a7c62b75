"""Resources: the host's counters return to 0, collected Sounds warn and
release, and long runs of opens and failures keep memory flat."""

from __future__ import annotations

import gc
import os
import warnings

import pytest

import harmidex

_ZERO = {"live_values": 0, "live_blocks": 0, "interface_references": 0, "protocol_errors": 0}


def counters():
    return harmidex._harmidex.counters()


def resident_kib() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def test_counters_count_an_open_sound_and_return_to_zero_on_close(media):
    s = harmidex.open(media["wav"])
    during = counters()
    assert during["interface_references"] > 0 and during["live_values"] > 0
    s.samples(0, 1000)
    s.close()
    assert counters() == _ZERO


def test_an_unclosed_sound_warns_and_releases_when_collected(media):
    s = harmidex.open(media["wav"])
    s.fft()
    with pytest.warns(ResourceWarning, match="unclosed"):
        del s
        gc.collect()
    assert counters() == _ZERO


def test_a_closed_or_failed_sound_does_not_warn(media, tmp_path):
    with warnings.catch_warnings():
        warnings.simplefilter("error", ResourceWarning)
        with harmidex.open(media["wav"]) as s:
            s.amplitude()
        del s
        with pytest.raises(FileNotFoundError):
            harmidex.open(tmp_path / "none.wav")
        gc.collect()
    assert counters() == _ZERO


def test_failures_in_the_middle_of_calls_leave_nothing_behind(media):
    with harmidex.open(media["wav"]) as s:
        for bad in [lambda: s.fft(bins=3), lambda: s.samples(0, -1), lambda: s.fft(bins="x"),
                    lambda: s.spectrogram(bins=5, hop=500), lambda: s.samples(2**31 - 2, 4)]:
            with pytest.raises((ValueError, TypeError)):
                bad()
    assert counters() == _ZERO


def _flat(run, rounds: int) -> None:
    run(rounds // 10)  # warm up: pools, caches, the first allocations
    before = resident_kib()
    run(rounds)
    grown = resident_kib() - before
    assert grown < 4096, f"resident memory grew by {grown} KiB"


def test_ten_thousand_open_close_cycles_keep_memory_flat(media):
    path = str(media["mono"])

    def cycles(n):
        for _ in range(n):
            with harmidex.open(path) as s:
                s.samples(0, 100)

    _flat(cycles, 10_000)
    assert counters() == _ZERO


def test_ten_thousand_failing_calls_keep_memory_flat(media, tmp_path):
    missing = str(tmp_path / "missing.wav")
    with harmidex.open(media["mono"]) as s:
        def failures(n):
            for i in range(n):
                with pytest.raises(ValueError):
                    s.fft(bins=3 + 2 * (i % 7))
                with pytest.raises(FileNotFoundError):
                    harmidex.open(missing)

        _flat(failures, 10_000)
    assert counters() == _ZERO
