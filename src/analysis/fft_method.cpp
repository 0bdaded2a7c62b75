// getFFT, EmitSpectrum and getEqualizedFreqCount.
#include <cmath>
#include <cstdint>

#include "analysis/fft_engine.h"
#include "analysis/log10.h"
#include "analysis/working_buffers.h"
#include "audio/sample_format.h"
#include "script/file_methods.h"
#include "script/last_error.h"
#include "script/results.h"
#include "script/script_interface.h"
#include "support/error_text.h"

namespace hx {
namespace {

struct FFTRequest {
  int32_t fileId = 0;
  int32_t start = kDefaultStart;
  int32_t binCount = kDefaultBinCount;
  int32_t timesmooth = kDefaultTimesmooth;
  double amplMax = kDefaultAmplMax;
  int32_t normalized = 0;
  int32_t equalized = 0;
};

// Reads the arguments in position order; false when the call must end
// (the reader has written the error text and the result 0).
bool readRequest(ScriptIface* self, HxCallRecord* call, FFTRequest& r) {
  const ScriptVtbl& v = *self->vtbl;
  if (v.GetIntArg(self, call, 2, "fileID", &r.fileId, 1) != kArgRead) return false;
  // Optional arguments: the first missing one keeps its default and so do all after it.
  int32_t status = v.GetIntArg(self, call, 3, "startsample", &r.start, 0);
  if (status == kArgRead) status = v.GetIntArg(self, call, 4, "binCount", &r.binCount, 0);
  if (status == kArgRead) status = v.GetIntArg(self, call, 5, "timesmooth", &r.timesmooth, 0);
  if (status == kArgRead) status = v.GetFloatArg(self, call, 6, "amplMax", &r.amplMax, 0);
  if (status == kArgRead) status = v.GetIntArg(self, call, 7, "normalized", &r.normalized, 0);
  if (status == kArgRead) status = v.GetIntArg(self, call, 8, "equalized", &r.equalized, 0);
  return status != kArgWrongType;
}


// Bytes of all working buffers for frames samples and binCount bins:
// 16-bit block, float block, engine output and the 5m work area.
int64_t spectrumBytes(int64_t frames, int64_t binCount) {
  return frames * 2 + frames * 4 + binCount * 4 + binCount * 5 * 4;
}

// Checks the request; false after writing the error text and the result 0.
bool validRequest(Instance* instance, HxCallRecord* call, const FFTRequest& r, int64_t* frames) {
  if (!isValidBinCount(r.binCount)) {
    FailWith(instance, call, "binCount should be a power of two from 1 to %ld", static_cast<long>(kMaxBins));
    return false;
  }
  if (r.timesmooth < 1) {
    FailWith(instance, call, "timesmooth should be at least 1");
    return false;
  }
  *frames = int64_t{r.binCount} * 2 * r.timesmooth;
  if (*frames > INT32_MAX) {
    FailWith(instance, call, "timesmooth should be at most %ld for binCount %ld",
             static_cast<long>(INT32_MAX / (int64_t{r.binCount} * 2)), static_cast<long>(r.binCount));
    return false;
  }
  return true;
}

void failOutOfMemory(Instance* instance, HxCallRecord* call) {
  FailWith(instance, call, "cannot get samples : error %s", ErrorText(errNotEnoughMemory));
}

// Folds the bins into octave bands: bin 0 alone, then [s, 2s) for s = 1, 2, 4, ...
// False when an append failed.
bool appendOctaveBands(Instance* instance, HxCallRecord* call, const float* out, int32_t binCount,
                       bool normalized, float factor) {
  float v = static_cast<float>(portableLog10(2.0) * out[0]);
  if (!AppendFloatResult(instance, call, normalized ? v * factor : v)) return false;
  for (int32_t s = 1; s < binCount; s *= 2) {
    float sum = 0.0f;
    for (int32_t b = s; b < 2 * s; ++b) sum += out[b];
    v = static_cast<float>((portableLog10(static_cast<double>(s) + 1.0) * sum) / s);
    if (!AppendFloatResult(instance, call, normalized ? v * factor : v)) return false;
  }
  return true;
}

bool appendBins(Instance* instance, HxCallRecord* call, const float* out, int32_t binCount,
                bool normalized, float factor) {
  if (!normalized) return AppendFloatResults(instance, call, out, binCount);
  for (int32_t b = 0; b < binCount; ++b) {
    if (!AppendFloatResult(instance, call, out[b] * factor)) return false;
  }
  return true;
}

// The float work of one spectrum, in one block: the float samples, the
// engine's 5m work area and its m outputs. getFFT puts its 16-bit block
// behind them, so that a call makes one allocation.
int64_t scratchFloats(int64_t frames, int64_t binCount) { return frames + binCount * 6; }

void emitSpectrum(Instance* instance, HxCallRecord* call, const void* block, int32_t frames,
                  SoundFormat format, int32_t binCount, float amplMax, bool equalized,
                  bool normalized, float* scratch) {
  float* samples = scratch;
  float* work = samples + frames;
  float* out = work + int64_t{binCount} * 5;
  framesToFloat(block, samples, format, static_cast<uint32_t>(frames), 128.0f);
  // The block is on a +-128 scale; only the normalized spectrum uses its peak.
  const float pk = normalized ? peakMagnitude(samples, frames) / 128.0f : 0.0f;
  logPowerSpectrum(amplMax, 3.0f, samples, out, frames, binCount, work);
  const float factor = static_cast<float>(std::sqrt(2.0) * pk);
  if (!StartListResult(instance, call)) {
    failOutOfMemory(instance, call);
    return;
  }
  const bool complete = equalized
                            ? appendOctaveBands(instance, call, out, binCount, normalized, factor)
                            : appendBins(instance, call, out, binCount, normalized, factor);
  if (!complete) {
    // A shortened spectrum must not pass for the whole one.
    DropResult(instance, call);
    failOutOfMemory(instance, call);
  }
}

}  // namespace

HxStatus HX_CALL EmitSpectrum(ScriptIface* self, HxCallRecord* call, const void* block,
                              int32_t frames, SoundFormat format, int32_t binCount, float amplMax,
                              bool equalized, bool normalized) {
  Instance* instance = self->owner;
  // Bytes, so that the block holds floats by implicit object creation.
  auto scratch = allocateBuffer<unsigned char>(scratchFloats(frames, binCount) * 4);
  if (!scratch) {
    failOutOfMemory(instance, call);
    return HX_OK;
  }
  emitSpectrum(instance, call, block, frames, format, binCount, amplMax, equalized, normalized,
               reinterpret_cast<float*>(scratch.get()));
  return HX_OK;
}

HxStatus HX_CALL GetFFTMethod(ScriptIface* self, HxCallRecord* call) {
  Instance* instance = self->owner;
  FFTRequest r;
  if (!readRequest(self, call, r)) return HX_OK;
  int64_t frames = 0;
  if (!validRequest(instance, call, r, &frames)) return HX_OK;
  zrQTfile* reader = ReaderOrFail(instance, call, r.fileId);
  if (reader == nullptr) return HX_OK;
  if (spectrumBytes(frames, r.binCount) > kMaxWorkingBytes) {
    failOutOfMemory(instance, call);
    return HX_OK;
  }
  // One block for the call: the spectrum's floats, then the 16-bit samples.
  const int64_t floatBytes = scratchFloats(frames, r.binCount) * 4;
  auto scratch = allocateBuffer<unsigned char>(floatBytes + frames * 2);
  if (!scratch) {
    failOutOfMemory(instance, call);
    return HX_OK;
  }
  auto* block = reinterpret_cast<int16_t*>(scratch.get() + floatBytes);
  const int32_t n = static_cast<int32_t>(frames);
  const int32_t error = reader->readFrames(block, kFormatMono16, r.start, n);
  if (error != 0) {
    FailWith(instance, call, "cannot get samples : error %s", ErrorText(error));
    return HX_OK;
  }
  emitSpectrum(instance, call, block, n, kFormatMono16, r.binCount, static_cast<float>(r.amplMax),
               r.equalized != 0, r.normalized != 0, reinterpret_cast<float*>(scratch.get()));
  return HX_OK;
}

HxStatus HX_CALL GetEqualizedFreqCountMethod(ScriptIface* self, HxCallRecord* call) {
  int32_t n = 0;
  if (self->vtbl->GetIntArg(self, call, 2, "nbbins", &n, 1) != kArgRead) return HX_OK;
  int32_t count = 1;  // n = 1 and every negative n
  if (n == 0) {
    count = 0;
  } else if (n > 1) {
    // 64-bit doubling: for n up to 2^31 - 1 the loop ends at 2^31 with 31 steps.
    int32_t c = 0;
    for (int64_t v = 1; v < n; v *= 2) ++c;
    count = c + 1;
  }
  SetIntegerResult(self->owner, call, count);
  return HX_OK;
}

}  // namespace hx
