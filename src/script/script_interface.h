// The script interface object and the module's own slots of its table.
#pragma once

#include <cstdint>

#include "audio/sample_format.h"
#include "hx_interfaces.h"
#include "script/instance.h"
#include "script/method_facts.h"

namespace hx {

struct ScriptIface;

// Every handler takes the call record and always returns HX_OK: failures
// reach the script only as the result value and the last-error text.
using MethodHandler = HxStatus(HX_CALL*)(ScriptIface* self, HxCallRecord* call);

// Results of the argument readers.
enum : int32_t { kArgRead = 0, kArgWrongType = -1, kArgMissing = -2 };

struct ScriptVtbl {
  HxScriptVtbl published;  // QueryInterface, AddRef, Release, Call
  int32_t(HX_CALL* IsValueType)(ScriptIface* self, const HxValue* value, int32_t type);
  int32_t(HX_CALL* GetIntArg)(ScriptIface* self, HxCallRecord* call, int32_t position,
                              const char* name, int32_t* out, int32_t required);
  int32_t(HX_CALL* GetFloatArg)(ScriptIface* self, HxCallRecord* call, int32_t position,
                                const char* name, double* out, int32_t required);
  int32_t(HX_CALL* GetStringArg)(ScriptIface* self, HxCallRecord* call, int32_t position,
                                 const char* name, char* out, int32_t length, int32_t required);
  HxStatus(HX_CALL* EmitSpectrum)(ScriptIface* self, HxCallRecord* call, const void* block,
                                  int32_t frames, SoundFormat format, int32_t binCount,
                                  float amplMax, bool equalized, bool normalized);
  MethodHandler newMethod;
  MethodHandler openQuicktimeFile;
  MethodHandler closeFile;
  MethodHandler getSamples;
  MethodHandler getAmplitude;
  MethodHandler getFFT;
  MethodHandler getEqualizedFreqCount;
  MethodHandler getSampleRate;
};

// One interface object bound to an instance; memory from the owner's allocator.
struct ScriptIface {
  const ScriptVtbl* vtbl;
  Instance* owner;
  int32_t refCount;
};


// The filled table (shell/interface_object.cpp).
extern const ScriptVtbl kScriptVtbl;

// Slots, defined in script/ and analysis/.
HxStatus HX_CALL Call(HxScript* self, HxCallRecord* call);
int32_t HX_CALL IsValueType(ScriptIface* self, const HxValue* value, int32_t type);
int32_t HX_CALL GetIntArg(ScriptIface* self, HxCallRecord* call, int32_t position,
                          const char* name, int32_t* out, int32_t required);
int32_t HX_CALL GetFloatArg(ScriptIface* self, HxCallRecord* call, int32_t position,
                            const char* name, double* out, int32_t required);
int32_t HX_CALL GetStringArg(ScriptIface* self, HxCallRecord* call, int32_t position,
                             const char* name, char* out, int32_t length, int32_t required);
HxStatus HX_CALL EmitSpectrum(ScriptIface* self, HxCallRecord* call, const void* block,
                              int32_t frames, SoundFormat format, int32_t binCount, float amplMax,
                              bool equalized, bool normalized);
HxStatus HX_CALL NewMethod(ScriptIface* self, HxCallRecord* call);
HxStatus HX_CALL OpenQuicktimeFileMethod(ScriptIface* self, HxCallRecord* call);
HxStatus HX_CALL CloseFileMethod(ScriptIface* self, HxCallRecord* call);
HxStatus HX_CALL GetSamplesMethod(ScriptIface* self, HxCallRecord* call);
HxStatus HX_CALL GetAmplitudeMethod(ScriptIface* self, HxCallRecord* call);
HxStatus HX_CALL GetFFTMethod(ScriptIface* self, HxCallRecord* call);
HxStatus HX_CALL GetEqualizedFreqCountMethod(ScriptIface* self, HxCallRecord* call);
HxStatus HX_CALL GetSampleRateMethod(ScriptIface* self, HxCallRecord* call);

}  // namespace hx
