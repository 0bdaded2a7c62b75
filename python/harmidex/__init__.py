"""Harmidex from Python: the module's exact numbers as numpy arrays.

    import harmidex
    with harmidex.open("song.mp3") as s:
        s.rate, s.frames, s.duration       # getSampleRate, the decoded length
        s.samples(0, 44100)                # float32, full scale 1.0
        s.fft(4096, bins=1024)             # log-power spectrum (getFFT)
        s.spectrogram(bins=512, hop=896)   # one getFFT per column, in C++

The extension is a host of the harmidex module: it loads harmidex.so
through its exports, as a scripting host does, and every number is the
float the module handed over.
"""

from pathlib import Path as _Path

from ._errors import (Error, FileNotFound, IsADirectory, MethodError, OpenError,
                      PermissionDenied)
from ._sound import (Sound, Spectrogram, Waveform, band_edges, bands, bin_frequencies, open)

__version__ = (_Path(__file__).with_name("VERSION")).read_text().strip()

__all__ = ["Error", "OpenError", "FileNotFound", "IsADirectory", "PermissionDenied",
           "MethodError", "Sound", "Spectrogram", "Waveform", "open", "bands",
           "bin_frequencies", "band_edges", "__version__"]
