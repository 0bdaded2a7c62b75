#include "fake_module.h"

#include <cstring>

#include "hx_ids.h"

namespace hx::test::fake {
namespace {

Faults gFaults;
int32_t gLiveInterfaces = 0;

struct ScriptInstance {
  HxObjectHeader header;
  HxValueInterface* values;
  HxListInterface* lists;
};

template <class Vtbl>
struct Interface {
  const Vtbl* vtbl;
  HxObjectHeader* owner;
  int32_t refs;
};

HxUnknown* asUnknown(HxObjectHeader* owner) { return reinterpret_cast<HxUnknown*>(owner); }

template <class Self>
HxStatus HX_CALL queryInterface(Self* self, const HxGuid* iid, void** out) {
  HxObjectHeader* owner = reinterpret_cast<Interface<void>*>(self)->owner;
  return owner->vtbl->QueryInterface(asUnknown(owner), iid, out);
}

template <class Self>
uint32_t HX_CALL addRef(Self* self) {
  auto* object = reinterpret_cast<Interface<void>*>(self);
  object->owner->vtbl->AddRef(asUnknown(object->owner));
  return static_cast<uint32_t>(++object->refs);
}

template <class Self>
uint32_t HX_CALL release(Self* self) {
  auto* object = reinterpret_cast<Interface<void>*>(self);
  HxObjectHeader* owner = object->owner;
  int32_t refs = --object->refs;
  if (refs == 0) {
    owner->allocator->vtbl->HostFree(owner->allocator, object);
    --gLiveInterfaces;
    if (!gFaults.keepOwnerReference) owner->vtbl->Release(asUnknown(owner));
  }
  owner->vtbl->Release(asUnknown(owner));
  return static_cast<uint32_t>(refs);
}

HxStatus HX_CALL registerClass(HxRegistration*, HxRegistryCache* cache, HxDict* entryDict) {
  static const HxGuid kScriptIid = HX_IID_SCRIPT;
  HxDict* dict = nullptr;
  HxStatus status = cache->vtbl->AddRegistryEntry(cache, entryDict, &kScriptClass, &kScriptIid, &dict);
  if (status != HX_OK) return status;
  dict->vtbl->RegistryPut(dict, HX_REG_TYPE_TEXT, kMethodTable, 0, "msgTable");
  const uint8_t yes = 1;
  return dict->vtbl->RegistryPut(dict, HX_REG_TYPE_BOOL, &yes, 1, "safeForShockwave");
}

HxStatus HX_CALL call(HxScript* self, HxCallRecord* record) {
  auto* inst = reinterpret_cast<ScriptInstance*>(reinterpret_cast<Interface<void>*>(self)->owner);
  switch (record->methodNumber) {
    case kEcho:
      inst->lists->vtbl->NewList(inst->lists, &record->result);
      for (int32_t i = 0; i < record->argCount; ++i)
        inst->lists->vtbl->AppendToList(inst->lists, &record->result, &record->args[i]);
      break;
    case kArgCount:
      inst->values->vtbl->IntegerToValue(inst->values, record->argCount, &record->result);
      break;
    default:
      break;
  }
  return gFaults.failCall ? HX_E_INVALID_ARG : HX_OK;
}

const HxRegistrationVtbl kRegistrationVtbl = {queryInterface<HxRegistration>,
                                              addRef<HxRegistration>, release<HxRegistration>,
                                              registerClass};
const HxScriptVtbl kScriptVtbl = {queryInterface<HxScript>, addRef<HxScript>, release<HxScript>,
                                  call};

template <class Vtbl>
HxStatus makeInterface(void* instance, const Vtbl* vtbl, void** out) {
  auto* owner = static_cast<HxObjectHeader*>(instance);
  void* memory = owner->allocator->vtbl->HostAlloc(owner->allocator, sizeof(Interface<Vtbl>));
  if (memory == nullptr) {
    *out = nullptr;
    return HX_E_OUT_OF_MEMORY;
  }
  auto* object = static_cast<Interface<Vtbl>*>(memory);
  object->vtbl = vtbl;
  object->owner = owner;
  object->refs = 1;
  owner->vtbl->AddRef(asUnknown(owner));
  owner->vtbl->AddRef(asUnknown(owner));
  ++gLiveInterfaces;
  *out = object;
  return HX_OK;
}

HxStatus HX_CALL createNothing(void*) { return HX_OK; }
void HX_CALL destroyNothing(void*) {}

HxStatus HX_CALL createScript(void* instance) {
  static const HxGuid kValues = HX_IID_VALUE_INTERFACE;
  static const HxGuid kLists = HX_IID_LIST_INTERFACE;
  auto* inst = static_cast<ScriptInstance*>(instance);
  HxCallback* callback = inst->header.callback;
  callback->vtbl->QueryInterface(callback, &kValues, reinterpret_cast<void**>(&inst->values));
  callback->vtbl->QueryInterface(callback, &kLists, reinterpret_cast<void**>(&inst->lists));
  return HX_OK;
}

void HX_CALL destroyScript(void* instance) {
  auto* inst = static_cast<ScriptInstance*>(instance);
  inst->values->vtbl->Release(inst->values);
  inst->lists->vtbl->Release(inst->lists);
}

struct ClassRow {
  const HxGuid* classId;
  HxGuid interfaceId;
  uint32_t size;
  HxCreateFn create;
  HxDestroyFn destroy;
};

const ClassRow kClasses[] = {
    {&kRegistrationClass, HX_IID_REGISTRATION, sizeof(HxObjectHeader), createNothing,
     destroyNothing},
    {&kScriptClass, HX_IID_SCRIPT, sizeof(ScriptInstance), createScript, destroyScript},
};

const ClassRow* findRow(const HxGuid* classId) {
  for (const ClassRow& row : kClasses)
    if (std::memcmp(row.classId, classId, sizeof(HxGuid)) == 0) return &row;
  return nullptr;
}

HxStatus HX_CALL getClassInfo(HxAllocator* alloc, HxClassInfo** out) {
  static const HxGuid kClassEntry = HX_IID_CLASS_ENTRY;
  const uint32_t count = 2 * (sizeof kClasses / sizeof kClasses[0]);
  const uint32_t slots = gFaults.dropTerminator ? count : count + 1;
  auto* array = static_cast<HxClassInfo*>(alloc->vtbl->HostAlloc(alloc, slots * sizeof(HxClassInfo)));
  *out = array;
  if (array == nullptr) return HX_E_OUT_OF_MEMORY;
  HxClassInfo* e = array;
  for (const ClassRow& row : kClasses) {
    *e++ = HxClassInfo{*row.classId, HX_CLASS_VERSION, kClassEntry, 1};
    *e++ = HxClassInfo{*row.classId, HX_CLASS_VERSION, row.interfaceId, HX_CLASS_VERSION};
  }
  if (!gFaults.dropTerminator) {
    std::memset(&e->classId, 0, sizeof e->classId);
    std::memset(&e->interfaceId, 0, sizeof e->interfaceId);
  }
  return HX_OK;
}

HxStatus HX_CALL getClassForm(const HxGuid* classId, uint32_t* size, HxCreateFn* create,
                              HxDestroyFn* destroy) {
  const ClassRow* row = findRow(classId);
  if (row == nullptr) return HX_E_NO_CLASS;
  *size = gFaults.instanceTooSmall ? 4 : row->size;
  *create = row->create;
  *destroy = row->destroy;
  return HX_OK;
}

HxStatus HX_CALL getInterface(void* instance, const HxGuid* classId, const HxGuid* iid,
                              void** out) {
  static const HxGuid kRegistrationIid = HX_IID_REGISTRATION;
  const ClassRow* row = findRow(classId);
  if (row == nullptr || std::memcmp(&row->interfaceId, iid, sizeof(HxGuid)) != 0)
    return HX_E_NO_INTERFACE;
  if (std::memcmp(iid, &kRegistrationIid, sizeof(HxGuid)) == 0)
    return makeInterface(instance, &kRegistrationVtbl, out);
  return makeInterface(instance, &kScriptVtbl, out);
}

HxStatus HX_CALL canUnloadNow() { return gLiveInterfaces == 0 ? HX_OK : HX_E_STILL_IN_USE; }

HxStatus HX_CALL getClassObject(const HxGuid*, const HxGuid*, void**) { return HX_E_NO_CLASS; }

}  // namespace

Faults& faults() { return gFaults; }
int32_t liveInterfaces() { return gLiveInterfaces; }

::hx::host::EntryPoints entryPoints() {
  return {getClassInfo, getClassForm, getInterface, canUnloadNow, getClassObject};
}

}  // namespace hx::test::fake

#ifdef HX_FAKE_MODULE_EXPORTS
#ifdef _WIN32
#define HX_FAKE_EXPORT __declspec(dllexport)
#else
#define HX_FAKE_EXPORT __attribute__((visibility("default")))
#endif
namespace fake = hx::test::fake;

extern "C" HX_FAKE_EXPORT HxStatus HX_CALL DllGetClassInfo(HxAllocator* alloc, HxClassInfo** out) {
  return fake::entryPoints().getClassInfo(alloc, out);
}
extern "C" HX_FAKE_EXPORT HxStatus HX_CALL DllGetClassForm(const HxGuid* classId, uint32_t* size,
                                                           HxCreateFn* create,
                                                           HxDestroyFn* destroy) {
  return fake::entryPoints().getClassForm(classId, size, create, destroy);
}
extern "C" HX_FAKE_EXPORT HxStatus HX_CALL DllGetInterface(void* instance, const HxGuid* classId,
                                                           const HxGuid* iid, void** out) {
  return fake::entryPoints().getInterface(instance, classId, iid, out);
}
extern "C" HX_FAKE_EXPORT HxStatus HX_CALL DllCanUnloadNow() {
  return fake::entryPoints().canUnloadNow();
}
extern "C" HX_FAKE_EXPORT HxStatus HX_CALL DllGetClassObject(const HxGuid* classId,
                                                             const HxGuid* iid, void** out) {
  return fake::entryPoints().getClassObject(classId, iid, out);
}
#endif
