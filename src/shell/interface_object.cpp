#include "shell/interface_object.h"

#include <cstddef>
#include <new>

#include "script/script_interface.h"
#include "shell/lifecycle.h"

namespace hx {
namespace {

// Module-wide: live interface objects of both kinds.
int32_t gLiveInterfaces = 0;

// Common layout of both kinds of interface object.
struct InterfaceObject {
  const void* vtbl;
  void* owner;
  int32_t refCount;
};
static_assert(offsetof(ScriptIface, owner) == offsetof(InterfaceObject, owner));
static_assert(offsetof(ScriptIface, refCount) == offsetof(InterfaceObject, refCount));
static_assert(sizeof(ScriptIface) == sizeof(InterfaceObject));

HxObjectHeader* headerOf(void* owner) { return static_cast<HxObjectHeader*>(owner); }
HxUnknown* ownerUnknown(void* owner) { return static_cast<HxUnknown*>(owner); }

void ownerAddRef(void* owner) { headerOf(owner)->vtbl->AddRef(ownerUnknown(owner)); }
void ownerRelease(void* owner) { headerOf(owner)->vtbl->Release(ownerUnknown(owner)); }

void* allocateFrom(HxAllocator* allocator, uint32_t size) {
  void* block = allocator->vtbl->HostAlloc(allocator, size);
  if (block == nullptr) {
    // One more try after the process-wide handler had its chance to free memory.
    if (std::new_handler handler = std::get_new_handler()) {
      try {
        handler();
      } catch (...) {
        return nullptr;
      }
      block = allocator->vtbl->HostAlloc(allocator, size);
    }
  }
  return block;
}

template <class Self>
HxStatus HX_CALL queryInterface(Self* self, const HxGuid* iid, void** out) {
  void* owner = reinterpret_cast<InterfaceObject*>(self)->owner;
  return headerOf(owner)->vtbl->QueryInterface(ownerUnknown(owner), iid, out);
}

template <class Self>
uint32_t HX_CALL addRef(Self* self) {
  auto* object = reinterpret_cast<InterfaceObject*>(self);
  ownerAddRef(object->owner);
  return static_cast<uint32_t>(++object->refCount);
}

// The owner holds two references per object at creation and one per AddRef;
// the last Release gives back the extra one along with its own.
template <class Self>
uint32_t HX_CALL release(Self* self) {
  auto* object = reinterpret_cast<InterfaceObject*>(self);
  const int32_t count = --object->refCount;
  void* owner = object->owner;
  if (count == 0) {
    HxAllocator* allocator = headerOf(owner)->allocator;
    allocator->vtbl->HostFree(allocator, object);
    --gLiveInterfaces;
    ownerRelease(owner);
  }
  ownerRelease(owner);
  return static_cast<uint32_t>(count);
}

const HxRegistrationVtbl kRegistrationVtbl = {
    .QueryInterface = queryInterface<HxRegistration>,
    .AddRef = addRef<HxRegistration>,
    .Release = release<HxRegistration>,
    .Register = Register,
};

HxStatus newInterface(void* owner, const void* vtbl, void** out) {
  auto* object = static_cast<InterfaceObject*>(
      allocateFrom(headerOf(owner)->allocator, sizeof(InterfaceObject)));
  if (object == nullptr) {
    *out = nullptr;
    return HX_E_OUT_OF_MEMORY;
  }
  object->owner = owner;
  object->refCount = 1;
  ownerAddRef(owner);
  ownerAddRef(owner);
  ++gLiveInterfaces;
  object->vtbl = vtbl;
  *out = object;
  return HX_OK;
}

}  // namespace

const ScriptVtbl kScriptVtbl = {
    .published =
        {
            .QueryInterface = queryInterface<HxScript>,
            .AddRef = addRef<HxScript>,
            .Release = release<HxScript>,
            .Call = Call,
        },
    .IsValueType = IsValueType,
    .GetIntArg = GetIntArg,
    .GetFloatArg = GetFloatArg,
    .GetStringArg = GetStringArg,
    .EmitSpectrum = EmitSpectrum,
    .newMethod = NewMethod,
    .openQuicktimeFile = OpenQuicktimeFileMethod,
    .closeFile = CloseFileMethod,
    .getSamples = GetSamplesMethod,
    .getAmplitude = GetAmplitudeMethod,
    .getFFT = GetFFTMethod,
    .getEqualizedFreqCount = GetEqualizedFreqCountMethod,
    .getSampleRate = GetSampleRateMethod,
};

HxStatus NewRegistrationInterface(void* owner, void** out) {
  return newInterface(owner, &kRegistrationVtbl, out);
}

HxStatus NewScriptInterface(void* owner, void** out) { return newInterface(owner, &kScriptVtbl, out); }

int32_t LiveInterfaceCount() { return gLiveInterfaces; }

}  // namespace hx
