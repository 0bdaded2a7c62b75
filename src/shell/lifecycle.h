// Registration and the life of one script object.
#pragma once

#include "hx_interfaces.h"

namespace hx {

// Files the method table and "safeForShockwave" in the host's registry.
HxStatus HX_CALL Register(HxRegistration* self, HxRegistryCache* cache, HxDict* entryDict);

// Fills / empties an Instance record.
HxStatus HX_CALL createInstance(void* instance);
void HX_CALL destroyInstance(void* instance);

// The registration class keeps nothing of its own.
HxStatus HX_CALL createRegistration(void* instance);
void HX_CALL destroyRegistration(void* instance);

}  // namespace hx
