// The module's fixed class table and its walk.
#pragma once

#include <cstdint>

#include "hx_entry.h"

namespace hx {

// Makes an interface object bound to owner; HX_E_OUT_OF_MEMORY with *out = null.
using InterfaceFactory = HxStatus (*)(void* owner, void** out);
// A non-zero result ends the walk and becomes its result.
using ClassCallback = int32_t (*)(const HxGuid* classId, uint32_t classVersion, uint32_t instanceSize,
                                  HxCreateFn create, HxDestroyFn destroy, void* user);
using InterfaceCallback = int32_t (*)(const HxGuid* classId, uint32_t classVersion,
                                      const HxGuid* interfaceId, uint32_t interfaceVersion,
                                      InterfaceFactory factory, void* user);

// Walks the classes in table order (only classId when filter is non-null),
// calling each given callback; 0 after the last class.
int32_t EnumerateClasses(const HxGuid* filter, ClassCallback onClass, InterfaceCallback onInterface,
                         void* user);

extern const HxGuid kRegistrationClassId;
extern const HxGuid kScriptClassId;
extern const HxGuid kRegistrationInterfaceId;
extern const HxGuid kScriptInterfaceId;
extern const HxGuid kClassEntryInterfaceId;

bool sameGuid(const HxGuid& a, const HxGuid& b);

}  // namespace hx
