#!/usr/bin/env python3
"""Analyse every audio file under a folder on dask.distributed, one CSV row per file.

    examples/corpus.py FOLDER -o corpus.csv                 # a LocalCluster of worker processes
    examples/corpus.py FOLDER -o corpus.csv --scheduler tcp://host:8786   # an existing cluster

Each row holds the path, rate, frames, duration, peak level and the mean
octave-band spectrum (getFFT equalized, one block every 2 x bins frames). A
file that fails gets its error in its row; the run goes on.
"""

from __future__ import annotations

import argparse
import csv
import os
import sys
from pathlib import Path

import harmidex

# Containers the media layer reads that usually carry sound.
AUDIO_SUFFIXES = {".wav", ".wave", ".aif", ".aiff", ".aifc", ".caf", ".flac", ".mp3", ".mp2",
                  ".m4a", ".aac", ".ogg", ".oga", ".opus", ".wma", ".au", ".mp4", ".mov", ".mkv",
                  ".webm", ".avi"}
DEFAULT_BINS = 1024


def audio_files(folder: Path) -> list[Path]:
    """Every file under folder with an audio or movie suffix, sorted by path."""
    return sorted(p for p in folder.rglob("*") if p.is_file() and p.suffix.lower() in AUDIO_SUFFIXES)


def header(bins: int) -> list[str]:
    return (["path", "rate_hz", "frames", "duration_s", "peak"]
            + [f"band_{k}" for k in range(harmidex.bands(bins))] + ["error"])


def analyse(path: str, bins: int = DEFAULT_BINS) -> list[str]:
    """One row: the file's facts and its mean octave-band spectrum, or its error."""
    width = harmidex.bands(bins)
    try:
        with harmidex.open(path) as s:
            peak = s.amplitude()
            spectrum = s.spectrogram(bins=bins, hop=2 * bins, equalized=True)
            mean = spectrum.values.mean(axis=0, dtype="float64")
            return ([path, f"{s.rate:.9g}", str(s.frames), f"{s.duration:.9g}", f"{peak:.9g}"]
                    + [f"{v:.9g}" for v in mean] + [""])
    except (harmidex.Error, OSError, ValueError) as e:
        return [path, "", "", "", ""] + [""] * width + [str(e).replace("\n", " ")]


class Progress:
    """A bar on standard error, only when that is a terminal."""

    def __init__(self, total: int) -> None:
        self.total, self.done = total, 0
        self.on = sys.stderr.isatty()

    def step(self) -> None:
        self.done += 1
        if self.on:
            filled = 40 * self.done // max(self.total, 1)
            sys.stderr.write(f"\r[{'#' * filled}{'.' * (40 - filled)}] {self.done}/{self.total}")
            if self.done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


def run(folder: Path, out: Path, scheduler: str | None, workers: int, bins: int) -> int:
    from dask.distributed import Client, LocalCluster, as_completed

    paths = [str(p) for p in audio_files(folder)]
    if scheduler:
        client = Client(scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        futures = client.map(analyse, paths, bins=bins, pure=False)
        rows = {}
        progress = Progress(len(futures))
        for future in as_completed(futures):
            row = future.result()
            rows[row[0]] = row
            progress.step()
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    # Whole or absent: written beside the target, then renamed into place.
    partial = out.with_name(out.name + ".partial")
    with open(partial, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(header(bins))
        for p in paths:
            w.writerow(rows[p])
    os.replace(partial, out)
    failed = sum(1 for r in rows.values() if r[-1])
    print(f"{len(paths)} files, {failed} failed: {out}", file=sys.stderr)
    return 0


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("folder", type=Path)
    ap.add_argument("-o", "--output", type=Path, required=True, help="the CSV to write")
    ap.add_argument("--scheduler", help="address of an existing dask scheduler")
    ap.add_argument("--workers", type=int, default=os.cpu_count() or 2,
                    help="worker processes of the local cluster (default: one per core)")
    ap.add_argument("--bins", type=int, default=DEFAULT_BINS, help="bins of each spectrum")
    a = ap.parse_args(argv)
    if not a.folder.is_dir():
        ap.error(f"{a.folder} is not a folder")
    return run(a.folder, a.output, a.scheduler, a.workers, a.bins)


if __name__ == "__main__":
    sys.exit(main())
