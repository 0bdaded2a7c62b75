#!/usr/bin/env python3
"""Draw a file's spectrogram with matplotlib from one Sound.spectrogram call.

    examples/plot_sonogram.py [FILE] [-o OUT.png] [--bins 512] [--hop FRAMES]

Without FILE it draws a generated demo: a tone, a rising sweep and a few
clicks, two seconds long.
"""

from __future__ import annotations

import argparse
import sys
import tempfile
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import harmidex  # noqa: E402


def demo_file(folder: Path) -> Path:
    import soundfile

    rate = 44100
    t = np.arange(2 * rate) / rate
    x = 0.4 * np.sin(2 * np.pi * 440 * t)                         # a steady A
    x += 0.3 * np.sin(2 * np.pi * (300 * t + 2400 * t * t))       # 300 Hz to 9.9 kHz
    for at in (0.5, 1.0, 1.5):                                     # clicks: every frequency
        x[int(at * rate)] += 0.9
    path = folder / "demo.wav"
    soundfile.write(path, np.clip(x, -1, 1), rate, subtype="PCM_16")
    return path


def plot(path: Path, out: Path, bins: int, hop: int | None) -> None:
    with harmidex.open(path) as s:
        sg = s.spectrogram(bins=bins, hop=hop)
        duration = s.duration
    fig, ax = plt.subplots(figsize=(10, 4.5), dpi=100)
    # One column per getFFT call, centred on its time; bin b at b * rate / 2m.
    half_hop = sg.hop / sg.rate / 2
    extent = (sg.times[0] - half_hop, sg.times[-1] + half_hop, 0, sg.rate / 2 / 1000)
    image = ax.imshow(sg.values.T, origin="lower", aspect="auto", extent=extent,
                      cmap="magma", interpolation="nearest", vmin=0)
    ax.set_xlim(0, duration)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("frequency (kHz)")
    ax.set_title(f"{Path(path).name}: {sg.bins} bins, hop {sg.hop:g} frames, {sg.rate:g} Hz")
    fig.colorbar(image, ax=ax, label="getFFT value (log power)")
    fig.tight_layout()
    fig.savefig(out)
    plt.close(fig)


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("file", nargs="?", type=Path)
    ap.add_argument("-o", "--output", type=Path, default=Path("sonogram.png"))
    ap.add_argument("--bins", type=int, default=512)
    ap.add_argument("--hop", type=int, default=None, help="frames between columns (default: 1000 columns)")
    a = ap.parse_args(argv)
    with tempfile.TemporaryDirectory() as tmp:
        path = a.file or demo_file(Path(tmp))
        plot(path, a.output, a.bins, a.hop)
    print(a.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
