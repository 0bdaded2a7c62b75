// fft, samples, amplitude and rate as CSV, JSON or an aligned table. Every
// number comes from the module; the frequencies and times beside them are
// the bin, band and frame positions at the rate getSampleRate gives.
#pragma once

#include <cstdio>

#include "cli/fft_defaults.h"
#include "cli/options.h"
#include "cli/session.h"

namespace hx::cli {

// Centre frequency of bin b of a spectrum of m bins: b * rate / 2m.
double binFrequency(int64_t bin, int32_t binCount, double rate);
// Edges of octave band k, in Hz: band 0 is bin 0 alone, [0, one bin);
// band k >= 1 holds bins s to 2s - 1 with s = 2^(k-1), [s, 2s) bins.
void bandEdges(int32_t band, int32_t binCount, double rate, double* low, double* high);

// Runs the command's method on fileID 1 of an open session and prints the
// result in c.format (or as a table). Returns the exit status.
int printReport(Session& session, const Command& c, std::FILE* out, std::FILE* err);

}  // namespace hx::cli
