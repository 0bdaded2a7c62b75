// The host's registry: the cache, its dictionaries and their entries.
#include "host/host_impl.h"

namespace hx::host {
namespace detail {

// ---- registry ----------------------------------------------------------------

uint32_t HX_CALL dictAddRef(HxDict* self) {
  return static_cast<uint32_t>(++reinterpret_cast<DictPort*>(self)->refs);
}

uint32_t HX_CALL dictRelease(HxDict* self) {
  auto* port = reinterpret_cast<DictPort*>(self);
  if (port->refs <= 0) {
    port->impl->protocolError("Release of a registry dictionary without a reference");
    return 0;
  }
  return static_cast<uint32_t>(--port->refs);
}

HxStatus HX_CALL dictQueryInterface(HxDict* self, const HxGuid* iid, void** out) {
  if (out == nullptr || iid == nullptr)
    return reinterpret_cast<DictPort*>(self)->impl->fail(HX_E_INVALID_ARG,
                                                         "QueryInterface with a null pointer");
  *out = nullptr;
  return HX_E_NO_INTERFACE;
}

HxStatus HX_CALL registryPut(HxDict* self, int32_t type, const void* data, int32_t size,
                             const char* key) {
  Host::Impl* impl = reinterpret_cast<DictPort*>(self)->impl;
  DictData* dict = impl->dictOf(self);
  if (dict == nullptr) return impl->fail(HX_E_INVALID_ARG, "RegistryPut on an unknown dictionary");
  if (key == nullptr || data == nullptr)
    return impl->fail(HX_E_INVALID_ARG, "RegistryPut with a null pointer");
  if (size < 0) return impl->fail(HX_E_INVALID_ARG, "RegistryPut with a negative size");
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t length = static_cast<size_t>(size);
  if (type == HX_REG_TYPE_TEXT) {
    if (size == 0) length = std::strlen(static_cast<const char*>(data));
    else if (bytes[length - 1] == 0) --length;  // stored without its terminator
  }
  return guarded([&] {
    RegistryEntry entry{type, std::vector<uint8_t>(bytes, bytes + length)};
    dict->entries[key] = std::move(entry);
    return HX_OK;
  });
}

const HxDictVtbl kDictVtbl = {dictQueryInterface, dictAddRef, dictRelease, registryPut};

HxStatus HX_CALL addRegistryEntry(HxRegistryCache* self, HxDict* entryDict, const HxGuid* classId,
                                  const HxGuid* interfaceId, HxDict** out) {
  Host::Impl* impl = implOf(self);
  if (classId == nullptr || interfaceId == nullptr || out == nullptr)
    return impl->fail(HX_E_INVALID_ARG, "AddRegistryEntry with a null pointer");
  if (entryDict != nullptr) {
    DictData* given = impl->dictOf(entryDict);
    if (given == nullptr || !given->isEntryDict)
      return impl->fail(HX_E_INVALID_ARG, "AddRegistryEntry with a foreign entry dictionary");
  }
  return guarded([&] {
    for (DictPort& port : impl->dictPorts) {
      const DictData& data = impl->dicts[port.index];
      if (!data.isEntryDict && sameGuid(data.classId, *classId) &&
          sameGuid(data.interfaceId, *interfaceId)) {
        *out = &port.iface;
        return HX_OK;
      }
    }
    *out = &impl->newDict(false, *classId, *interfaceId)->iface;
    return HX_OK;
  });
}

const HxRegistryCacheVtbl kCacheVtbl = {noInterface<HxRegistryCache>,
                                        portAddRef<HxRegistryCache>,
                                        portRelease<HxRegistryCache>, addRegistryEntry};

}  // namespace detail

DictPort* Host::Impl::newDict(bool isEntryDict, const HxGuid& classId, const HxGuid& interfaceId) {
  dicts.push_back(DictData{isEntryDict, classId, interfaceId, {}});
  dictPorts.push_back(DictPort{{&kDictVtbl}, this, 0, dicts.size() - 1});
  return &dictPorts.back();
}

}  // namespace hx::host
