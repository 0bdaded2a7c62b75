// The five exported entry points: everything a host learns about the module.
#include <cstring>

#include "hx_entry.h"
#include "hx_ids.h"
#include "audio/media_ops.h"
#include "shell/class_table.h"
#include "shell/interface_object.h"

// The media layer of this build: the runtime binding on Windows, FFmpeg
// elsewhere.
#if defined(_WIN32)
#include "audio/qt_binding.h"
#else
#include "media/ffmpeg_backend.h"
#endif

#if defined(_WIN32)
#define HX_EXPORT HX_EXTERN_C __declspec(dllexport)
#else
#define HX_EXPORT HX_EXTERN_C __attribute__((visibility("default")))
#endif

namespace hx {
namespace {

// Handed to the reader as the module loads, before any object exists.
[[maybe_unused]] const bool gMediaHandedIn = [] {
#if defined(_WIN32)
  setModuleMediaOps(qt::quickTimeMediaOps());
#else
  setModuleMediaOps(media::ffmpegMediaOps());
#endif
  return true;
}();

int32_t countClass(const HxGuid*, uint32_t, uint32_t, HxCreateFn, HxDestroyFn, void* user) {
  ++*static_cast<uint32_t*>(user);
  return 0;
}

int32_t countInterface(const HxGuid*, uint32_t, const HxGuid*, uint32_t, InterfaceFactory, void* user) {
  ++*static_cast<uint32_t*>(user);
  return 0;
}

int32_t writeClass(const HxGuid* classId, uint32_t classVersion, uint32_t, HxCreateFn, HxDestroyFn,
                   void* user) {
  HxClassInfo*& entry = *static_cast<HxClassInfo**>(user);
  entry->classId = *classId;
  entry->classVersion = classVersion;
  entry->interfaceId = kClassEntryInterfaceId;
  entry->interfaceVersion = 1;
  ++entry;
  return 0;
}

int32_t writeInterface(const HxGuid* classId, uint32_t classVersion, const HxGuid* interfaceId,
                       uint32_t interfaceVersion, InterfaceFactory, void* user) {
  HxClassInfo*& entry = *static_cast<HxClassInfo**>(user);
  entry->classId = *classId;
  entry->classVersion = classVersion;
  entry->interfaceId = *interfaceId;
  entry->interfaceVersion = interfaceVersion;
  ++entry;
  return 0;
}

struct FormRequest {
  uint32_t* size;
  HxCreateFn* create;
  HxDestroyFn* destroy;
};

int32_t storeForm(const HxGuid*, uint32_t, uint32_t size, HxCreateFn create, HxDestroyFn destroy,
                  void* user) {
  const auto* request = static_cast<FormRequest*>(user);
  *request->size = size;
  *request->create = create;
  *request->destroy = destroy;
  return 1;
}

struct InterfaceRequest {
  const HxGuid* interfaceId;
  InterfaceFactory factory;
};

int32_t findFactory(const HxGuid*, uint32_t, const HxGuid* interfaceId, uint32_t, InterfaceFactory factory,
                    void* user) {
  auto* request = static_cast<InterfaceRequest*>(user);
  if (!sameGuid(*interfaceId, *request->interfaceId)) return 0;
  request->factory = factory;
  return 1;
}

}  // namespace
}  // namespace hx

using namespace hx;

HX_EXPORT HxStatus HX_CALL DllGetClassInfo(HxAllocator* alloc, HxClassInfo** out) {
  uint32_t count = 0;
  EnumerateClasses(nullptr, countClass, countInterface, &count);
  const uint32_t bytes = (count + 1) * static_cast<uint32_t>(sizeof(HxClassInfo));
  auto* entries = static_cast<HxClassInfo*>(alloc->vtbl->HostAlloc(alloc, bytes));
  *out = entries;
  if (entries == nullptr) return HX_E_OUT_OF_MEMORY;
  HxClassInfo* next = entries;
  EnumerateClasses(nullptr, writeClass, writeInterface, &next);
  // Hosts stop at the zero IDs and never read a terminator's versions, so
  // they are left as the allocator gave them, as the published layout has it.
  std::memset(&next->classId, 0, sizeof next->classId);
  std::memset(&next->interfaceId, 0, sizeof next->interfaceId);
  return HX_OK;
}

HX_EXPORT HxStatus HX_CALL DllGetClassForm(const HxGuid* classId, uint32_t* size, HxCreateFn* create,
                                           HxDestroyFn* destroy) {
  FormRequest request{size, create, destroy};
  return EnumerateClasses(classId, storeForm, nullptr, &request) != 0 ? HX_OK : HX_E_NO_CLASS;
}

HX_EXPORT HxStatus HX_CALL DllGetInterface(void* instance, const HxGuid* classId, const HxGuid* interfaceId,
                                           void** out) {
  InterfaceRequest request{interfaceId, nullptr};
  EnumerateClasses(classId, nullptr, findFactory, &request);
  if (request.factory == nullptr) return HX_E_NO_INTERFACE;
  return request.factory(instance, out);
}

HX_EXPORT HxStatus HX_CALL DllCanUnloadNow(void) {
  return LiveInterfaceCount() == 0 ? HX_OK : HX_E_STILL_IN_USE;
}

HX_EXPORT HxStatus HX_CALL DllGetClassObject(const HxGuid*, const HxGuid*, void**) { return HX_E_NO_CLASS; }
