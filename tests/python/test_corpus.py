"""examples/corpus.py on a LocalCluster of two worker processes: 20 files,
two of them broken, give the rows of a plain sequential loop."""

from __future__ import annotations

import csv
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
import soundfile

import harmidex
from conftest import RATE, encode, signal

EXAMPLES = Path(os.environ.get("HARMIDEX_SOURCE_DIR", Path(__file__).resolve().parents[2])) / "examples"
sys.path.insert(0, str(EXAMPLES))
import corpus  # noqa: E402


@pytest.fixture(scope="module")
def folder(tmp_path_factory, media):
    d = tmp_path_factory.mktemp("corpus")
    (d / "nested").mkdir()
    for k in range(18):
        seconds = 0.3 + 0.05 * k
        x = signal(seconds, 1 + k % 2, seed=100 + k)
        target = (d / "nested" if k % 3 == 0 else d) / f"take {k:02d}.wav"
        soundfile.write(target, x, RATE if k % 4 else 22050, subtype="PCM_16")
        if k % 5 == 0:
            encode(target, target.with_suffix(".flac"), "-c:a", "flac")
            target.unlink()
    (d / "broken.mp3").write_bytes(b"ID3" + bytes(range(256)) * 8)
    (d / "empty.wav").write_bytes(b"")
    (d / "notes.txt").write_text("not listed: no audio suffix")
    return d


def test_corpus_on_two_workers_equals_a_sequential_loop(folder, tmp_path):
    paths = corpus.audio_files(folder)
    assert len(paths) == 20
    out = tmp_path / "corpus.csv"
    env = dict(os.environ)
    subprocess.run([sys.executable, str(EXAMPLES / "corpus.py"), str(folder), "-o", str(out),
                    "--workers", "2"], check=True, env=env, timeout=300)
    with open(out, newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0] == corpus.header(corpus.DEFAULT_BINS)
    sequential = [corpus.analyse(str(p)) for p in paths]
    assert rows[1:] == sequential
    errors = {Path(r[0]).name: r[-1] for r in rows[1:] if r[-1]}
    assert sorted(errors) == ["broken.mp3", "empty.wav"]
    # The row's numbers are the Sound's own.
    row = next(r for r in rows[1:] if r[0].endswith("take 01.wav"))
    with harmidex.open(row[0]) as s:
        assert float(row[1]) == s.rate and int(row[2]) == s.frames
        assert np.float32(row[4]) == np.float32(s.amplitude())
