// Interface objects handed to the host, and the module-wide count of them.
#pragma once

#include <cstdint>

#include "hx_interfaces.h"

namespace hx {

// Factories: a new object with a count of 1 bound to owner (an instance
// starting with its HxObjectHeader), which gains two references.
// HX_E_OUT_OF_MEMORY with *out = null when the owner's allocator fails.
HxStatus NewRegistrationInterface(void* owner, void** out);
HxStatus NewScriptInterface(void* owner, void** out);

// Module-wide count of live interface objects of both kinds; the module
// may be unloaded only while it is 0. Plain counter: host thread only.
int32_t LiveInterfaceCount();

}  // namespace hx
