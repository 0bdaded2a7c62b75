"""Sound, an open file of the harmidex module, and the results of its methods."""

from __future__ import annotations

import json
import numbers
import operator
import os
import warnings
from typing import Any, Optional, Union

import numpy as np

from . import _harmidex
from . import _errors  # noqa: F401  (installs the error factories)

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# The most values one spectrogram may hold (512 MiB of float32).
MAX_SPECTROGRAM_VALUES = 1 << 27
# The most min/max pairs one waveform may hold, as the command allows.
MAX_WAVEFORM_POINTS = 1 << 21
# Frames read per getSamples call while a waveform is made.
_WAVEFORM_CHUNK = 1 << 20


def _integer(name: str, x: Any) -> int:
    try:
        return operator.index(x)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(x).__name__}") from None


def _real(name: str, x: Any) -> float:
    if isinstance(x, bool) or not isinstance(x, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(x).__name__}")
    return float(x)


def _flag(name: str, x: Any) -> bool:
    if isinstance(x, (bool, np.bool_)):
        return bool(x)
    return _integer(name, x) != 0


def _path_bytes(path: Any) -> bytes:
    raw = os.fsencode(os.fspath(path))  # TypeError for anything else
    if b"\0" in raw:
        raise ValueError("embedded null byte")
    return raw


def bands(bins: int) -> int:
    """Number of octave bands of a spectrum of ``bins`` bins (getEqualizedFreqCount).

    Band 0 is bin 0 alone; band k >= 1 holds bins 2**(k-1) to 2**k - 1.
    """
    return _harmidex.bands(_integer("bins", bins))


def bin_frequencies(bins: int, rate: float) -> np.ndarray:
    """Centre frequency in Hz of each bin of a ``bins``-bin spectrum: b * rate / (2 * bins)."""
    return _harmidex.bin_frequencies(_integer("bins", bins), _real("rate", rate))


def band_edges(bins: int, rate: float) -> np.ndarray:
    """The ``bands(bins) + 1`` edges in Hz of the octave bands: band k spans edges k to k + 1."""
    bins = _integer("bins", bins)
    return _harmidex.band_edges(bands(bins), bins, _real("rate", rate))


class Spectrogram:
    """Whole-file spectrogram: one getFFT call per column.

    ``values`` is a float32 array of shape (columns, bins), or (columns,
    bands) when equalized; ``times`` the centre of each column's block in
    seconds; ``starts`` the first frame of each block; ``frequencies`` the
    bin centres in Hz, or the band edges (bands + 1 of them) when equalized.
    """

    __slots__ = ("values", "times", "starts", "frequencies", "bins", "hop", "timesmooth",
                 "normalized", "equalized", "rate")

    def __init__(self, **fields: Any) -> None:
        for k, v in fields.items():
            setattr(self, k, v)

    def __repr__(self) -> str:
        return (f"<harmidex.Spectrogram {self.values.shape[0]} columns x {self.values.shape[1]} "
                f"{'bands' if self.equalized else 'bins'}, hop {self.hop:g} frames>")


class Waveform:
    """Min/max envelope of the samples, one pair per point of ``samples_per_pixel`` frames.

    ``min`` and ``max`` are int16 arrays of the mixed-down 16-bit sample
    values. ``to_json()`` gives the JSON data format (version 2) that
    ``harmidex waveform --json`` writes, with ``bits`` 8 or 16.
    """

    __slots__ = ("min", "max", "sample_rate", "samples_per_pixel", "bits", "start")

    def __init__(self, **fields: Any) -> None:
        for k, v in fields.items():
            setattr(self, k, v)

    def to_json(self) -> str:
        """The document the command writes, byte for byte (keys sorted, compact, a final newline)."""
        lo, hi = self.min.astype(np.int32), self.max.astype(np.int32)
        if self.bits == 8:
            # 8-bit data keeps the high byte.
            lo, hi = lo >> 8, hi >> 8
        data = np.empty(2 * len(lo), dtype=np.int32)
        data[0::2], data[1::2] = lo, hi
        doc = {"version": 2, "channels": 1, "sample_rate": _harmidex.llround(self.sample_rate),
               "samples_per_pixel": self.samples_per_pixel, "bits": self.bits,
               "length": len(lo), "data": data.tolist()}
        return json.dumps(doc, sort_keys=True, separators=(",", ":")) + "\n"

    def __repr__(self) -> str:
        return f"<harmidex.Waveform {len(self.min)} points of {self.samples_per_pixel} frames>"


class Sound:
    """An audio file (or a movie's audio track) decoded once by the module.

    Made by :func:`harmidex.open`. Every method is served from memory and
    releases the GIL while the module works. Use it as a context manager,
    or call :meth:`close`; a Sound collected unclosed releases everything
    and warns with ``ResourceWarning``.
    """

    def __init__(self, path: PathLike) -> None:
        raw = _path_bytes(path)
        self._path = path if isinstance(path, (str, bytes)) else os.fspath(path)
        self._native = _harmidex.NativeSound(raw)

    # ---- lifetime -------------------------------------------------------------
    def close(self) -> None:
        """Close the file and release the module's object; harmless when already closed."""
        native = getattr(self, "_native", None)
        if native is not None:
            native.close()

    @property
    def closed(self) -> bool:
        """True once :meth:`close` ran."""
        return self._native.closed

    def __enter__(self) -> "Sound":
        self._check()
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        native = getattr(self, "_native", None)
        if native is not None and not native.closed:
            warnings.warn(f"unclosed {self!r}", ResourceWarning, source=self)
            native.close()

    def __repr__(self) -> str:
        native = getattr(self, "_native", None)
        if native is None or native.closed:
            return f"<harmidex.Sound {self._path!r} closed>"
        d = self.duration
        length = f"{d:.3f} s" if d is not None else "unknown"
        return f"<harmidex.Sound {self._path!r} rate={native.rate:g} Hz duration={length}>"

    def _check(self) -> Any:
        if self._native.closed:
            raise ValueError("I/O operation on a closed Sound")
        return self._native

    # ---- facts ----------------------------------------------------------------
    @property
    def path(self) -> Union[str, bytes]:
        """The path as it was given (os.PathLike objects as their str or bytes)."""
        return self._path

    @property
    def rate(self) -> float:
        """Samples per second the module reads the file at (getSampleRate)."""
        return self._check().rate

    @property
    def frames(self) -> Optional[int]:
        """Length of the decoded track in frames at :attr:`rate`; None when unknown."""
        return self._check().frames

    @property
    def duration(self) -> Optional[float]:
        """:attr:`frames` / :attr:`rate` in seconds; None when unknown."""
        n = self.frames
        return None if n is None else n / self.rate

    @property
    def info(self) -> dict:
        """The facts ``harmidex info --json`` prints, under the same keys."""
        native = self._check()
        facts = native.facts()
        if isinstance(facts, str):
            raise OSError(f"cannot probe the container of {os.fsdecode(self._path)}: {facts}")
        if native.frames is None:
            raise OSError(f"{os.fsdecode(self._path)}: {native.media_error}")
        facts["file"] = os.fsdecode(self._path)
        facts["sample_rate_hz"] = native.rate
        facts["frames"] = native.frames
        facts["duration_s"] = native.frames / native.rate
        return facts

    def _to_end(self, start: int, count: Any) -> int:
        if count is not None:
            return _integer("count", count)
        n = self.frames
        if n is None:
            raise ValueError(f"the frames are not known ({self._native.media_error}); give count")
        return max(n - start, 0)

    # ---- methods --------------------------------------------------------------
    def samples(self, start: int = 0, count: Optional[int] = None, *,
                ampl_max: float = 1.0) -> np.ndarray:
        """The frames [start, start + count) as float32 (getSamples), full scale = ampl_max.

        ``count=None`` reads to the end. Frames outside the file are 0; a
        read may reach at most 2**22 frames past the end. Any length is read
        in several calls of the module, transparently.
        """
        native = self._check()
        if type(start) is not int:
            start = _integer("start", start)
        if count is None or type(count) is not int:
            count = self._to_end(start, count)
        if type(ampl_max) is not float:
            ampl_max = _real("ampl_max", ampl_max)
        return native.samples(start, count, ampl_max)

    def amplitude(self, start: int = 0, count: Optional[int] = None) -> float:
        """Peak level of the frames [start, start + count), 1.0 = full scale (getAmplitude)."""
        native = self._check()
        start = _integer("start", start)
        return native.amplitude(start, self._to_end(start, count))

    def fft(self, start: int = 0, *, bins: int = _harmidex.default_bins(), timesmooth: int = 1,
            ampl_max: float = 1.0, normalized: bool = False, equalized: bool = False) -> np.ndarray:
        """Log-power spectrum of the block of 2 * bins * timesmooth frames from start (getFFT).

        float32, ``bins`` values (bin b at b * rate / (2 * bins) Hz), or
        ``bands(bins)`` octave bands when equalized.
        """
        # The common types pass without a call; the native side refuses a closed Sound.
        if type(start) is not int:
            start = _integer("start", start)
        if type(bins) is not int:
            bins = _integer("bins", bins)
        if type(timesmooth) is not int:
            timesmooth = _integer("timesmooth", timesmooth)
        if type(ampl_max) is not float:
            ampl_max = _real("ampl_max", ampl_max)
        if type(normalized) is not bool:
            normalized = _flag("normalized", normalized)
        if type(equalized) is not bool:
            equalized = _flag("equalized", equalized)
        return self._native.fft(start, bins, timesmooth, ampl_max, normalized, equalized)

    def _span(self, start: float, duration: Optional[float]) -> tuple[int, int]:
        rate = self.rate
        first = _harmidex.llround(_real("start", start) * rate)
        if duration is not None:
            count = _harmidex.llround(_real("duration", duration) * rate)
        else:
            n = self.frames
            if n is None:
                raise ValueError(f"the frames are not known ({self._native.media_error}); "
                                 "give duration")
            count = n - first
        if first > 2**31 - 1 or count > 2**31 - 1 - first:
            raise ValueError("start and duration reach past the last frame the module can read")
        if count <= 0:
            raise ValueError("nothing to analyse: start is at or past the end, or duration is 0")
        return first, count

    def spectrogram(self, *, bins: int = _harmidex.SPECTROGRAM_BINS, hop: Optional[int] = None,
                    start: float = 0.0, duration: Optional[float] = None, timesmooth: int = 1,
                    normalized: bool = False, equalized: bool = False) -> Spectrogram:
        """One getFFT call per column over the file (or start/duration, in seconds).

        Laid out as ``harmidex spectrogram`` lays out its picture: column c
        is centred on first + (c + 0.5) * hop, its block of 2 * bins *
        timesmooth frames around it. ``hop`` is in frames; None spreads
        1000 columns over the span. Computed in C++ with the GIL released.
        """
        native = self._check()
        bins = _integer("bins", bins)
        timesmooth = _integer("timesmooth", timesmooth)
        normalized, equalized = _flag("normalized", normalized), _flag("equalized", equalized)
        first, count = self._span(start, duration)
        if hop is None:
            columns = _harmidex.SPECTROGRAM_COLUMNS
            step = count / columns
        else:
            step = _integer("hop", hop)
            if step < 1:
                raise ValueError("hop must be at least 1 frame")
            columns = -(-count // step)
        rows = bands(bins) if equalized else bins
        if columns * max(rows, 1) > MAX_SPECTROGRAM_VALUES:
            raise ValueError(f"the spectrogram would hold more than {MAX_SPECTROGRAM_VALUES} "
                             "values; give a larger hop or fewer bins")
        values, times, starts = native.spectrogram(first, count, float(step), columns, bins,
                                                   timesmooth, normalized, equalized,
                                                   MAX_SPECTROGRAM_VALUES)
        rate = native.rate
        freqs = band_edges(bins, rate) if equalized else bin_frequencies(bins, rate)
        return Spectrogram(values=values, times=times, starts=starts, frequencies=freqs, bins=bins,
                           hop=step, timesmooth=timesmooth, normalized=normalized,
                           equalized=equalized, rate=rate)

    def waveform(self, *, start: float = 0.0, duration: Optional[float] = None,
                 pixels_per_second: Optional[float] = None,
                 samples_per_pixel: Optional[int] = None,
                 width: int = _harmidex.WAVEFORM_WIDTH, bits: int = 16) -> Waveform:
        """Min/max envelope of the samples, as ``harmidex waveform`` computes it.

        One point per ``samples_per_pixel`` frames; or rate /
        ``pixels_per_second``; or enough to fit ``width`` points.
        """
        native = self._check()
        if bits not in (8, 16):
            raise ValueError("bits must be 8 or 16")
        first, count = self._span(start, duration)
        if samples_per_pixel is not None:
            spp = _integer("samples_per_pixel", samples_per_pixel)
        elif pixels_per_second is not None:
            spp = max(1, _harmidex.llround(native.rate / _real("pixels_per_second", pixels_per_second)))
        else:
            spp = max(1, -(-count // max(1, _integer("width", width))))
        if spp < 1:
            raise ValueError("samples_per_pixel must be at least 1")
        points = -(-count // spp)
        if points > MAX_WAVEFORM_POINTS:
            raise ValueError(f"the envelope would have more than {MAX_WAVEFORM_POINTS} points; "
                             "give a larger samples_per_pixel or a smaller pixels_per_second")
        lo = np.empty(points, dtype=np.int16)
        hi = np.empty(points, dtype=np.int16)
        chunk = spp * max(1, _WAVEFORM_CHUNK // spp)
        for done in range(0, count, chunk):
            n = min(chunk, count - done)
            v = native.samples(first + done, n, 1.0)
            # The module gives x / 32768 for a 16-bit sample x: this is x again.
            x = np.clip(v * np.float32(32768), -32768, 32767).astype(np.int16)
            edges = np.arange(0, n, spp)
            p = done // spp
            lo[p:p + len(edges)] = np.minimum.reduceat(x, edges)
            hi[p:p + len(edges)] = np.maximum.reduceat(x, edges)
        return Waveform(min=lo, max=hi, sample_rate=native.rate, samples_per_pixel=spp, bits=bits,
                        start=first)


def open(path: PathLike) -> Sound:  # noqa: A001 (the package's verb, as io.open)
    """Open an audio file, or a movie with an audio track, by path.

    The first enabled audio track is decoded once into memory. Raises
    :class:`harmidex.Error` (also ``FileNotFoundError``, ``IsADirectoryError``
    or ``PermissionError`` where one fits) with the command's explanation.
    """
    return Sound(path)


__all__ = ["Sound", "Spectrogram", "Waveform", "open", "bands", "bin_frequencies", "band_edges"]
