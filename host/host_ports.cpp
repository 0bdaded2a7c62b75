// The host's callback and allocator interfaces.
#include "host/host_impl.h"

namespace hx::host {
namespace detail {

// ---- callback ----------------------------------------------------------------

HxStatus HX_CALL callbackQueryInterface(HxCallback* self, const HxGuid* iid, void** out) {
  Host::Impl* impl = implOf(self);
  if (out == nullptr || iid == nullptr)
    return impl->fail(HX_E_INVALID_ARG, "QueryInterface with a null pointer");
  static const HxGuid kValues = HX_IID_VALUE_INTERFACE;
  static const HxGuid kLists = HX_IID_LIST_INTERFACE;
  if (sameGuid(*iid, kValues) && !impl->withholdValues) {
    ++impl->values.refs;
    *out = &impl->values.iface;
    return HX_OK;
  }
  if (sameGuid(*iid, kLists) && !impl->withholdLists) {
    ++impl->lists.refs;
    *out = &impl->lists.iface;
    return HX_OK;
  }
  *out = nullptr;
  return HX_E_NO_INTERFACE;
}

const HxCallbackVtbl kCallbackVtbl = {callbackQueryInterface, portAddRef<HxCallback>,
                                      portRelease<HxCallback>};

// ---- allocator ---------------------------------------------------------------

void* HX_CALL hostAlloc(HxAllocator* self, uint32_t size) {
  Host::Impl* impl = implOf(self);
  if (impl->failAllocations > 0) {
    --impl->failAllocations;
    return nullptr;
  }
  if (!impl->allocationMayProceed()) return nullptr;
  if (size > kMaxBlock) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  try {
    impl->blocks.emplace(block, size);
  } catch (...) {
    std::free(block);
    return nullptr;
  }
  std::memset(block, kFreshByte, size);
  return block;
}

void HX_CALL hostFree(HxAllocator* self, void* block) {
  if (block == nullptr) return;
  Host::Impl* impl = implOf(self);
  auto it = impl->blocks.find(block);
  if (it == impl->blocks.end()) {
    impl->protocolError("HostFree of a block the allocator does not own");
    return;
  }
  impl->blocks.erase(it);
  std::free(block);
}

const HxAllocatorVtbl kAllocatorVtbl = {noInterface<HxAllocator>, portAddRef<HxAllocator>,
                                        portRelease<HxAllocator>, hostAlloc, hostFree};

}  // namespace detail
}  // namespace hx::host
