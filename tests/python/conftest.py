"""Fixtures of the Python package's tests: the built command, and media files
generated here and encoded with ffmpeg at test time."""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest
import soundfile

import harmidex

RATE = 44100


def command() -> str:
    path = os.environ.get("HARMIDEX_CLI")
    if not path:
        pytest.skip("HARMIDEX_CLI names no built harmidex command")
    return path


def run_command(*args: str, check: bool = True) -> subprocess.CompletedProcess:
    return subprocess.run([command(), *args], capture_output=True, text=True, check=check)


def call_script(lines: list[str]) -> list[str]:
    """`harmidex call` over the lines, one printed result per line."""
    done = subprocess.run([command(), "call"], input="\n".join(lines) + "\n", capture_output=True,
                          text=True, check=True)
    return done.stdout.splitlines()


def as_float32(printed: str) -> np.ndarray:
    """A printed list (or one number) read back to float32: %.9g round-trips exactly."""
    text = printed.strip()
    if text.startswith("["):
        inner = text[1:-1].strip()
        return np.array([float(x) for x in inner.split(",")] if inner else [], dtype=np.float32)
    return np.array([float(text)], dtype=np.float32)


def signal(seconds: float, channels: int, seed: int) -> np.ndarray:
    """Tones, a sweep and a little noise, with a full-scale click: int16 frames."""
    t = np.arange(int(seconds * RATE)) / RATE
    rng = np.random.default_rng(seed)
    left = 0.45 * np.sin(2 * np.pi * 440 * t) + 0.2 * np.sin(2 * np.pi * (200 + 3000 * t) * t)
    right = 0.3 * np.sin(2 * np.pi * 1250 * t) + 0.05 * rng.standard_normal(len(t))
    x = np.stack([left, right], axis=1)[:, :channels]
    x = np.clip(np.round(x * 32767), -32768, 32767).astype(np.int16)
    x[len(t) // 3] = -32768
    return x


def encode(source: Path, target: Path, *args: str) -> Path:
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", str(source), *args,
                    str(target)], check=True)
    return target


@pytest.fixture(scope="session")
def media(tmp_path_factory) -> dict[str, Path]:
    """name -> path: WAV (stereo and mono), MP3, AAC, FLAC, a movie, and broken files."""
    if shutil.which("ffmpeg") is None:
        pytest.skip("ffmpeg is not installed")
    d = tmp_path_factory.mktemp("media")
    files: dict[str, Path] = {}
    files["wav"] = d / "stereo.wav"
    soundfile.write(files["wav"], signal(1.5, 2, 1), RATE, subtype="PCM_16")
    files["mono"] = d / "mono 48k.wav"
    soundfile.write(files["mono"], signal(0.8, 1, 2)[:, 0], 48000, subtype="PCM_16")
    files["mp3"] = encode(files["wav"], d / "stereo.mp3", "-c:a", "libmp3lame", "-b:a", "128k")
    files["aac"] = encode(files["wav"], d / "stereo.m4a", "-c:a", "aac", "-b:a", "128k")
    files["flac"] = encode(files["mono"], d / "mono.flac", "-c:a", "flac")
    files["movie"] = d / "movie.mp4"
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=size=64x48:rate=10:duration=1.5", "-i", str(files["wav"]),
                    "-c:v", "mpeg4", "-c:a", "aac", "-shortest", str(files["movie"])], check=True)
    files["video_only"] = d / "video only.mp4"
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=size=64x48:rate=10:duration=1", "-c:v", "mpeg4",
                    str(files["video_only"])], check=True)
    files["text"] = d / "notes.wav"
    files["text"].write_text("not audio at all\n" * 20)
    return files


@pytest.fixture
def counters_clean():
    """The host's counters are back to 0 after the test."""
    yield
    import gc
    gc.collect()
    left = harmidex._harmidex.counters()
    assert left == {"live_values": 0, "live_blocks": 0, "interface_references": 0,
                    "protocol_errors": 0}, left
