// The test runtime's operations: a stand-in for the QuickTime runtime that
// serves the reader's thirteen operations over WAV and AIFF files (see
// audio_file.h). Conversions deliver 'snd ' resources of interleaved
// signed 16-bit big-endian samples ('twos'); 8-bit files are widened
// (sample x 256, unsigned WAV samples first centred on 0).
//
// Movies and tracks are numbers, never addresses: a stale or forged one is
// refused, not followed. A movie is released by DisposeMovie or once
// converted; what is left stays until resetRuntime or unload. One process-wide state,
// unguarded: a host calls from one thread.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "audio/media_ops.h"

namespace hx::testrt {

// Serves one operation named by selector, its arguments read from args with
// va_arg as the binding passes them (8- and 16-bit integers as int). The
// result: the error code sign-extended, the pointer, the duration, or 0.
// An unknown selector gives paramErr.
intptr_t dispatch(uint32_t selector, va_list args);

// Makes every later call with this selector fail: operations with an error
// code return code, those with a pointer return null, the duration is 0,
// and the void ones do nothing. Selector 0 ends it.
void setFailure(uint32_t selector, OSErr code);

// Movies made and neither converted nor disposed of.
int64_t liveMovies();
// Drops every path, open file and movie (tests).
void resetRuntime();

}  // namespace hx::testrt
