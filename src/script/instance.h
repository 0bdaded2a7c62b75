// The state one script object keeps between calls.
#pragma once

#include <cstdint>

#include "hx_interfaces.h"
#include "support/ref_object.h"

namespace hx {

struct Instance {
  HxObjectHeader header;  // host-owned, filled before createInstance
  HxValueInterface* valueInterface;
  HxListInterface* listInterface;
  HxValue lastError;   // always one host string value while the object lives
  int32_t nextFileId;  // only grows; fileIDs are never reused
  RefMap* openFiles;   // fileID text -> RefPointer to zrQTfile; null if it could not be made
};

}  // namespace hx
