#!/usr/bin/python3
"""The Python package beside its peers, measured in one run on this machine,
as one table: work, ours, peer, ratio, target, met. Exits 1 when a target is
missed, 2 when it cannot run. Not part of scripts/test.

    bench/python_compare.py [--rounds N] [--build DIR]

Peers: numpy's getFFT equivalent returning an ndarray (bench/numpy_getfft.py's
arithmetic without its list), the C++ host's bench_methods at the same sizes,
and soundfile + scipy.signal.spectrogram on a 10-minute stereo MP3. Ours and
each peer take turns round by round; every ratio is the median of the rounds'
own ratios, so a machine that slows down between the two does not pass for a
difference between them. HX_BENCH_PY_DIR keeps the generated files between runs.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
RATE = 44100
SIZES = [(256, 1), (1024, 1), (8192, 1), (256, 8), (1024, 8), (8192, 8)]


def build(build_dir: Path) -> None:
    subprocess.run(["cmake", "--preset", "default"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "-j2", "--target", "harmidex_python",
                    "bench_methods"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def make_files(folder: Path) -> tuple[Path, Path]:
    """A minute of mono WAV for the calls, ten minutes of stereo MP3 for the spectrogram."""
    import numpy as np
    import soundfile

    minute = folder / "minute.wav"
    if not minute.exists():
        t = np.arange(RATE * 60) / RATE
        soundfile.write(minute, (20000 * np.sin(2 * np.pi * 440 * t)).astype(np.int16), RATE,
                        subtype="PCM_16")
    mp3 = folder / "ten minutes.mp3"
    if not mp3.exists():
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y",
                        "-f", "lavfi", "-i", "sine=frequency=440:duration=600:sample_rate=44100",
                        "-f", "lavfi", "-i", "anoisesrc=duration=600:sample_rate=44100:amplitude=0.1",
                        "-filter_complex", "[0][1]amerge=inputs=2", "-ac", "2",
                        "-c:a", "libmp3lame", "-b:a", "192k", str(mp3)], check=True)
    return minute, mp3


# ---- peers -----------------------------------------------------------------------

def per_call_us(fn, starts, batches=5) -> float:
    times = []
    for _ in range(batches):
        begin = time.perf_counter()
        for s in starts:
            fn(int(s))
        times.append((time.perf_counter() - begin) / len(starts) * 1e6)
    return statistics.median(times)


def fft_round(harmidex, np, minute: Path) -> dict:
    import soundfile

    if str(ROOT / "bench") not in sys.path:
        sys.path.insert(0, str(ROOT / "bench"))
    from numpy_getfft import spectrum_array  # the same arithmetic as getFFT, in numpy

    signal = soundfile.read(minute, dtype="int16")[0]
    rng = np.random.default_rng(1)
    out = {}
    with harmidex.open(minute) as s:
        for m, t in SIZES:
            calls = max(20, 400000 // (m * t))
            starts = rng.integers(0, len(signal) - 2 * m * t, size=calls)
            ours = per_call_us(lambda x: s.fft(x, bins=m, timesmooth=t), starts)
            peer = per_call_us(lambda x: spectrum_array(signal, x, m, t), starts)
            out[(m, t)] = (ours, peer)
    return out


def cpp_round(build_dir: Path) -> dict:
    done = subprocess.run([str(build_dir / "bench" / "bench_methods"), "--benchmark_filter=BM_GetFFT",
                           "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true",
                           "--benchmark_format=json"], capture_output=True, text=True, check=True)
    out = {}
    for b in json.loads(done.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            _, m, t = b["run_name"].split("/")
            out[(int(m), int(t))] = b["real_time"]
    return out


def samples_round(harmidex, minute: Path) -> tuple[float, float]:
    with harmidex.open(minute) as s:
        small = per_call_us(lambda x: s.samples(x, 44100), [44100] * 200)
        times = []
        for _ in range(5):
            begin = time.perf_counter()
            s.samples(0, 1 << 22)
            times.append((time.perf_counter() - begin) * 1e3)
    return small, statistics.median(times)


def status_kb(key: str) -> int:
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1])
    return 0


def huge_bytes_per_value(build_dir: Path, minute: Path) -> float:
    """Peak growth of the resident set during one 2^22-frame read, less the array, per value,
    in a fresh process: freed blocks of earlier reads would otherwise be reused unseen."""
    code = ("import sys; sys.path[:0] = sys.argv[1:3]; import harmidex, python_compare, pathlib; "
            "print(python_compare.measure_huge(harmidex, pathlib.Path(sys.argv[3])))")
    done = subprocess.run([sys.executable, "-c", code, str(build_dir / "python"),
                           str(Path(__file__).resolve().parent), str(minute)],
                          capture_output=True, text=True, check=True)
    return float(done.stdout)


def measure_huge(harmidex, minute: Path) -> float:
    with harmidex.open(minute) as s:
        s.samples(0, 1000)
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        before = status_kb("VmRSS:")
        a = s.samples(0, 1 << 22)
        peak = (status_kb("VmHWM:") - before) * 1024
        return (peak - a.nbytes) / len(a)


def spectrogram_round(harmidex, mp3: Path) -> tuple[float, float, int, int]:
    import numpy as np
    import scipy.signal
    import soundfile

    begin = time.perf_counter()
    with harmidex.open(mp3) as s:
        ours_cols = s.spectrogram(bins=512, hop=896).values.shape[0]
    ours = time.perf_counter() - begin
    begin = time.perf_counter()
    x, rate = soundfile.read(mp3, dtype="float32")
    mono = x.mean(axis=1, dtype=np.float32)
    _, _, sxx = scipy.signal.spectrogram(mono, fs=rate, nperseg=1024)
    peer = time.perf_counter() - begin
    return ours, peer, ours_cols, sxx.shape[1]


# ---- the table -------------------------------------------------------------------

def median(v):
    return statistics.median(v)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--build", type=Path, default=ROOT / "build" / "default")
    a = ap.parse_args()
    try:
        build(a.build)
        sys.path.insert(0, str(a.build / "python"))
        import harmidex
        import numpy as np
        import scipy  # noqa: F401
        import soundfile  # noqa: F401
    except (subprocess.CalledProcessError, ImportError) as e:
        print(f"python_compare: cannot run: {e}", file=sys.stderr)
        return 2
    keep = os.environ.get("HX_BENCH_PY_DIR")
    folder = Path(keep) if keep else Path(tempfile.mkdtemp(prefix="hx-bench-py-"))
    folder.mkdir(parents=True, exist_ok=True)
    minute, mp3 = make_files(folder)

    ffts, cpps, samples, sonos = [], [], [], []
    for r in range(1, a.rounds + 1):
        print(f"round {r} of {a.rounds}: getFFT beside numpy and the C++ host, getSamples, "
              "the whole-file spectrogram beside soundfile + scipy...", file=sys.stderr)
        ffts.append(fft_round(harmidex, np, minute))
        cpps.append(cpp_round(a.build))
        samples.append(samples_round(harmidex, minute))
        sonos.append(spectrogram_round(harmidex, mp3))
    extra = huge_bytes_per_value(a.build, minute)

    rows = []

    def row(work, ours, peer, unit, ratio, target, met):
        rows.append((work, f"{ours:.2f} {unit}", "-" if peer is None else f"{peer:.2f} {unit}",
                     "-" if ratio is None else f"{ratio:.2f}", target, "yes" if met else "NO"))

    for m, t in SIZES:
        ours = [f[(m, t)][0] for f in ffts]
        peer = [f[(m, t)][1] for f in ffts]
        ratio = median([o / p for o, p in zip(ours, peer)])
        limit = 0.35 if m <= 1024 else 0.6
        row(f"Sound.fft m={m} t={t} (numpy ndarray)", median(ours), median(peer), "us", ratio,
            f"<= {limit:g}x", ratio <= limit)
        cpp = [c[(m, t)] for c in cpps]
        ratio = median([o / c for o, c in zip(ours, cpp)])
        row(f"Sound.fft m={m} t={t} (C++ bench_methods)", median(ours), median(cpp), "us", ratio,
            "<= 1.3x", ratio <= 1.3)
    small = median([s[0] for s in samples])
    row("Sound.samples 44,100 frames", small, None, "us", None, "<= 200 us", small <= 200)
    huge = median([s[1] for s in samples])
    row("Sound.samples 2^22 frames", huge, None, "ms", None, "<= 30 ms", huge <= 30)
    row("Sound.samples 2^22: bytes per value beyond the array", extra, None, "B", None, "<= 4 B",
        extra <= 4)
    ours = [s[0] for s in sonos]
    peer = [s[1] for s in sonos]
    ratio = median([o / p for o, p in zip(ours, peer)])
    cols = f"{sonos[0][2]} vs {sonos[0][3]} columns"
    row(f"10-min stereo MP3 spectrogram, open included ({cols})", median(ours), median(peer), "s",
        ratio, "<= 0.8x", ratio <= 0.8)

    widths = [max(len(str(r[i])) for r in rows + [HEADER]) for i in range(6)]
    for r in [HEADER] + rows:
        print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)).rstrip())
    return 0 if all(r[5] == "yes" for r in rows) else 1


HEADER = ("work", "ours", "peer", "ratio", "target", "met")

if __name__ == "__main__":
    sys.exit(main())
