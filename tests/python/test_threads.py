"""Threads: the GIL is released during module calls, and calls from several
threads give exactly what a sequential run gives."""

from __future__ import annotations

import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import harmidex


def work(s: harmidex.Sound, k: int) -> list[np.ndarray]:
    return [s.fft(997 * k, bins=1024, timesmooth=1 + k % 3, normalized=bool(k % 2)),
            s.samples(31 * k, 5000, ampl_max=1 + k / 8),
            np.float32([s.amplitude(100 * k, 20000)]),
            s.spectrogram(bins=64, hop=4096, timesmooth=1 + k % 2).values]


def same(a: list[np.ndarray], b: list[np.ndarray]) -> bool:
    return all(x.shape == y.shape and np.array_equal(x.view(np.uint32), y.view(np.uint32))
               for x, y in zip(a, b))


def test_threads_on_one_sound_and_on_several_match_a_sequential_run(media, counters_clean):
    names = ["wav", "mp3", "flac", "aac"]
    sounds = [harmidex.open(media[n]) for n in names]
    try:
        jobs = [(sounds[k % len(sounds)], k) for k in range(48)]
        sequential = [work(s, k) for s, k in jobs]
        with ThreadPoolExecutor(max_workers=6) as pool:
            threaded = list(pool.map(lambda job: work(*job), jobs))
        for k, (a, b) in enumerate(zip(sequential, threaded)):
            assert same(a, b), k
        # Opens and closes interleaved with other threads' calls.
        def reopen(k):
            with harmidex.open(media[names[k % 4]]) as s:
                return work(s, k)
        with ThreadPoolExecutor(max_workers=4) as pool:
            again = list(pool.map(reopen, range(8)))
        for k in range(8):
            with harmidex.open(media[names[k % 4]]) as s:
                assert same(again[k], work(s, k)), k
    finally:
        for s in sounds:
            s.close()


def test_the_gil_is_released_while_the_module_works(media):
    # A pure-Python thread keeps most of its pace during a long native call;
    # were the GIL held, it would get only the odd switch interval.
    with harmidex.open(media["mp3"]) as s:
        stop = threading.Event()
        ticks = [0]

        def spin():
            while not stop.is_set():
                ticks[0] += 1

        t = threading.Thread(target=spin)
        t.start()
        try:
            for call in [lambda: s.spectrogram(bins=2048, hop=16),
                         lambda: s.samples(0, 4_000_000)]:
                before, start = ticks[0], time.perf_counter()
                time.sleep(0.1)
                pace = (ticks[0] - before) / (time.perf_counter() - start)
                before, start = ticks[0], time.perf_counter()
                call()
                during = (ticks[0] - before) / (time.perf_counter() - start)
                assert during > 0.2 * pace, (during, pace)
        finally:
            stop.set()
            t.join()
