// getSamples and getAmplitude.
#include <cmath>
#include <cstdint>

#include "analysis/working_buffers.h"
#include "audio/sample_format.h"
#include "script/file_methods.h"
#include "script/last_error.h"
#include "script/results.h"
#include "script/script_interface.h"
#include "support/error_text.h"

namespace hx {
namespace {

struct SampleRequest {
  int32_t fileId = 0;
  int32_t start = 0;
  int32_t count = 0;
  double amplMax = kDefaultAmplMax;
};

bool readRange(ScriptIface* self, HxCallRecord* call, SampleRequest& r) {
  const ScriptVtbl& v = *self->vtbl;
  return v.GetIntArg(self, call, 2, "fileID", &r.fileId, 1) == kArgRead &&
         v.GetIntArg(self, call, 3, "startsample", &r.start, 1) == kArgRead &&
         v.GetIntArg(self, call, 4, "nbSamples", &r.count, 1) == kArgRead;
}

void failRead(Instance* instance, HxCallRecord* call, int32_t error) {
  FailWith(instance, call, "error getting samples : %s", ErrorText(error));
}

// Reads the range as floats at the given scale; null after writing the
// error text and the result 0. With limitList the range becomes a list, so
// it is held to the longest list one call may make.
std::unique_ptr<float[]> readFloats(ScriptIface* self, HxCallRecord* call,
                                    const SampleRequest& r, float scale, bool limitList) {
  Instance* instance = self->owner;
  if (r.count < 0) {
    FailWith(instance, call, "nbSamples should be at least 0");
    return nullptr;
  }
  if (limitList && r.count > kMaxListValues) {
    FailWith(instance, call, "nbSamples should be at most %ld", static_cast<long>(kMaxListValues));
    return nullptr;
  }
  zrQTfile* reader = ReaderOrFail(instance, call, r.fileId);
  if (reader == nullptr) return nullptr;
  // 16-bit block plus float block.
  if (int64_t{r.count} * 6 > kMaxWorkingBytes) {
    failRead(instance, call, errNotEnoughMemory);
    return nullptr;
  }
  auto block = allocateBuffer<int16_t>(r.count);
  if (!block) {
    failRead(instance, call, errNotEnoughMemory);
    return nullptr;
  }
  const int32_t error = reader->readFrames(block.get(), kFormatMono16, r.start, r.count);
  if (error != 0) {
    failRead(instance, call, error);
    return nullptr;
  }
  auto floats = allocateBuffer<float>(r.count);
  if (!floats) {
    failRead(instance, call, errNotEnoughMemory);
    return nullptr;
  }
  framesToFloat(block.get(), floats.get(), kFormatMono16, static_cast<uint32_t>(r.count), scale);
  return floats;
}

}  // namespace

HxStatus HX_CALL GetSamplesMethod(ScriptIface* self, HxCallRecord* call) {
  SampleRequest r;
  if (!readRange(self, call, r)) return HX_OK;
  if (self->vtbl->GetFloatArg(self, call, 5, "amplMax", &r.amplMax, 0) == kArgWrongType) {
    return HX_OK;
  }
  auto floats = readFloats(self, call, r, static_cast<float>(r.amplMax), true);
  if (!floats) return HX_OK;
  Instance* instance = self->owner;
  if (!StartListResult(instance, call)) {
    failRead(instance, call, errNotEnoughMemory);
    return HX_OK;
  }
  // A failed append ends the call: a shortened list must not pass for the samples.
  if (!AppendFloatResults(instance, call, floats.get(), r.count)) {
    DropResult(instance, call);
    failRead(instance, call, errNotEnoughMemory);
  }
  return HX_OK;
}

HxStatus HX_CALL GetAmplitudeMethod(ScriptIface* self, HxCallRecord* call) {
  SampleRequest r;
  if (!readRange(self, call, r)) return HX_OK;
  auto floats = readFloats(self, call, r, 1.0f, false);
  if (!floats) return HX_OK;
  SetFloatResult(self->owner, call, static_cast<double>(peakMagnitude(floats.get(), r.count)));
  return HX_OK;
}

}  // namespace hx
