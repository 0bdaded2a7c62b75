#include "shell/lifecycle.h"

#include <new>

#include "hx_ids.h"
#include "script/file_methods.h"
#include "script/method_table.h"
#include "shell/class_table.h"
#include "script/instance.h"
#include "support/log.h"
#include "support/module_alloc.h"

namespace hx {

HxStatus HX_CALL Register(HxRegistration*, HxRegistryCache* cache, HxDict* entryDict) {
  HxDict* dict = nullptr;
  const HxStatus status = cache->vtbl->AddRegistryEntry(cache, entryDict, &kScriptClassId,
                                                        &kScriptInterfaceId, &dict);
  if (status != HX_OK) return status;
  dict->vtbl->RegistryPut(dict, HX_REG_TYPE_TEXT, kMethodTable, 0, "msgTable");
  const uint8_t safeForShockwave = 1;
  return dict->vtbl->RegistryPut(dict, HX_REG_TYPE_BOOL, &safeForShockwave, 1, "safeForShockwave");
}

HxStatus HX_CALL createInstance(void* memory) {
  auto* instance = static_cast<Instance*>(memory);
  const HxGuid valueIid = HX_IID_VALUE_INTERFACE;
  const HxGuid listIid = HX_IID_LIST_INTERFACE;
  HxCallback* callback = instance->header.callback;
  instance->valueInterface = nullptr;
  instance->listInterface = nullptr;
  callback->vtbl->QueryInterface(callback, &valueIid, reinterpret_cast<void**>(&instance->valueInterface));
  callback->vtbl->QueryInterface(callback, &listIid, reinterpret_cast<void**>(&instance->listInterface));
  instance->lastError = HxValue{0, 0};
  // A host without a value interface gets an object whose calls do nothing.
  if (instance->valueInterface != nullptr) {
    instance->valueInterface->vtbl->StringToValue(instance->valueInterface, "", &instance->lastError);
  }
  instance->nextFileId = 1;
  instance->openFiles = NewOrNull<RefMap>();
  OpenLog(nullptr);
  return HX_OK;
}

void HX_CALL destroyInstance(void* memory) {
  auto* instance = static_cast<Instance*>(memory);
  if (instance->openFiles != nullptr) {
    CloseAllFiles(instance);
    instance->openFiles->Release();
  }
  instance->openFiles = nullptr;
  if (instance->valueInterface != nullptr) {
    instance->valueInterface->vtbl->ValueRelease(instance->valueInterface, &instance->lastError);
    instance->valueInterface->vtbl->Release(instance->valueInterface);
    instance->valueInterface = nullptr;
  }
  if (instance->listInterface != nullptr) {
    instance->listInterface->vtbl->Release(instance->listInterface);
    instance->listInterface = nullptr;
  }
}

HxStatus HX_CALL createRegistration(void*) { return HX_OK; }
void HX_CALL destroyRegistration(void*) {}

}  // namespace hx
