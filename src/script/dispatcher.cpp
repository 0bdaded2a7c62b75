// Routes a script call to its handler by method number.
#include "script/last_error.h"
#include "script/results.h"
#include "script/script_interface.h"

namespace hx {
namespace {

// getError: hands over the last-error value itself, with one more reference.
void getError(Instance* instance, HxCallRecord* call) {
  HxValueInterface* values = instance->valueInterface;
  values->vtbl->ValueAddRef(values, &instance->lastError);
  call->result = instance->lastError;
}

MethodHandler handlerFor(const ScriptVtbl* vtbl, int32_t method) {
  switch (method) {
    case kMethodOpenQuicktimeFile: return vtbl->openQuicktimeFile;
    case kMethodCloseFile: return vtbl->closeFile;
    case kMethodGetSamples: return vtbl->getSamples;
    case kMethodGetAmplitude: return vtbl->getAmplitude;
    case kMethodGetFFT: return vtbl->getFFT;
    case kMethodGetSampleRate: return vtbl->getSampleRate;
    case kMethodGetEqualizedFreqCount: return vtbl->getEqualizedFreqCount;
    default: return nullptr;
  }
}

void dispatch(ScriptIface* self, HxCallRecord* call) {
  const int32_t method = call->methodNumber;
  if (method == kMethodNew) {
    self->vtbl->newMethod(self, call);
    return;
  }
  if (method == kMethodGetError) {
    getError(self->owner, call);
    return;
  }
  ResetError(self->owner);
  if (MethodHandler handler = handlerFor(self->vtbl, method)) handler(self, call);
}

}  // namespace

HxStatus HX_CALL Call(HxScript* script, HxCallRecord* call) {
  auto* self = reinterpret_cast<ScriptIface*>(script);
  if (self == nullptr || call == nullptr) return HX_OK;
  // Without the host's value and list operations no result can be written.
  if (self->owner->valueInterface == nullptr || self->owner->listInterface == nullptr) return HX_OK;
  // Nothing may unwind into the host.
  try {
    dispatch(self, call);
  } catch (...) {
    try {
      // A handler that failed half way may have made its result already.
      DropResult(self->owner, call);
      FailWith(self->owner, call, "internal error in method %ld", static_cast<long>(call->methodNumber));
    } catch (...) {
    }
  }
  return HX_OK;
}

}  // namespace hx
