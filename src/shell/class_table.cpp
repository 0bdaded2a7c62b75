#include "shell/class_table.h"

#include <cstring>

#include "hx_ids.h"
#include "script/instance.h"
#include "shell/interface_object.h"
#include "shell/lifecycle.h"

namespace hx {

const HxGuid kRegistrationClassId = HX_CLSID_REGISTRATION;
const HxGuid kScriptClassId = HX_CLSID_SCRIPT;
const HxGuid kRegistrationInterfaceId = HX_IID_REGISTRATION;
const HxGuid kScriptInterfaceId = HX_IID_SCRIPT;
const HxGuid kClassEntryInterfaceId = HX_IID_CLASS_ENTRY;

namespace {

struct ClassRow {
  const HxGuid* classId;
  uint32_t instanceSize;
  HxCreateFn create;
  HxDestroyFn destroy;
  const HxGuid* interfaceId;
  InterfaceFactory factory;
};

const ClassRow kClasses[] = {
    {&kRegistrationClassId, sizeof(HxObjectHeader), createRegistration, destroyRegistration,
     &kRegistrationInterfaceId, NewRegistrationInterface},
    {&kScriptClassId, sizeof(Instance), createInstance, destroyInstance, &kScriptInterfaceId,
     NewScriptInterface},
};

}  // namespace

bool sameGuid(const HxGuid& a, const HxGuid& b) { return std::memcmp(&a, &b, sizeof(HxGuid)) == 0; }

int32_t EnumerateClasses(const HxGuid* filter, ClassCallback onClass, InterfaceCallback onInterface,
                         void* user) {
  for (const ClassRow& row : kClasses) {
    if (filter != nullptr && !sameGuid(*filter, *row.classId)) continue;
    if (onClass != nullptr) {
      if (int32_t r = onClass(row.classId, HX_CLASS_VERSION, row.instanceSize, row.create,
                              row.destroy, user)) {
        return r;
      }
    }
    if (onInterface != nullptr) {
      if (int32_t r = onInterface(row.classId, HX_CLASS_VERSION, row.interfaceId,
                                  HX_CLASS_VERSION, row.factory, user)) {
        return r;
      }
    }
  }
  return 0;
}

}  // namespace hx
