"""The numpy equivalent of one getFFT call: a random start, the window built
per call, np.fft, the log map and the result made a Python list.
Prints "m t microseconds" lines, each a median over batches."""
import statistics
import sys
import time

import numpy as np

RATE = 44100
rng = np.random.default_rng(1)
signal = (20000 * np.sin(2 * np.pi * 440 * np.arange(RATE * 60) / RATE)).astype(np.int16)


def spectrum_array(signal, start, m, t):
    """The getFFT arithmetic in numpy, returning the ndarray."""
    frames = signal[start:start + 2 * m * t].astype(np.float32) * np.float32(128 / 32768)
    i = np.arange(2 * m, dtype=np.float32)
    window = np.float32(1) - np.abs((i - np.float32(m)) * np.float32(1 / m))
    segments = frames.reshape(t, 2 * m) * window
    power = (np.abs(np.fft.rfft(segments, axis=1)[:, :m]) ** 2).mean(axis=0)
    power /= np.float32(2 * m * np.dot(window, window))
    return np.log10(1000 * power + 1) * np.float32(1 / 8)


def spectrum(start, m, t):
    return spectrum_array(signal, start, m, t).tolist()


def main():
    for m, t in [(256, 1), (1024, 1), (8192, 1), (256, 8), (1024, 8), (8192, 8)]:
        calls = max(20, 400000 // (m * t))
        starts = rng.integers(0, len(signal) - 2 * m * t, size=calls)
        batches = []
        for _ in range(9):
            begin = time.perf_counter()
            for s in starts:
                spectrum(int(s), m, t)
            batches.append((time.perf_counter() - begin) / calls * 1e6)
        print(m, t, f"{statistics.median(batches):.3f}")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
