/* The module's exported entry points and the class info array. */
#ifndef HARMIDEX_ABI_HX_ENTRY_H
#define HARMIDEX_ABI_HX_ENTRY_H

#include "hx_interfaces.h"

/* One entry of the class info array, 40 bytes, little-endian. The array
 * ends with an entry whose classId and interfaceId are all zero bytes. */
typedef struct HxClassInfo {
  HxGuid classId;
  uint32_t classVersion;
  HxGuid interfaceId;
  uint32_t interfaceVersion;
} HxClassInfo;

HX_STATIC_ASSERT(sizeof(HxClassInfo) == 40, "class info entry is 40 bytes");
HX_STATIC_ASSERT(offsetof(HxClassInfo, classVersion) == 16, "class info layout");
HX_STATIC_ASSERT(offsetof(HxClassInfo, interfaceId) == 20, "class info layout");
HX_STATIC_ASSERT(offsetof(HxClassInfo, interfaceVersion) == 36, "class info layout");

/* Create routine of a class: fills the module's part of the instance. */
typedef HxStatus(HX_CALL* HxCreateFn)(void* instance);
/* Destroy routine: empties it; the host frees the memory afterwards. */
typedef void(HX_CALL* HxDestroyFn)(void* instance);

/* Class info array in *out, allocated with alloc and owned by the host
 * (HostFree of alloc). HX_E_OUT_OF_MEMORY with *out = NULL on failure. */
typedef HxStatus(HX_CALL* HxDllGetClassInfoFn)(HxAllocator* alloc, HxClassInfo** out);
/* Instance size and routines of classId; HX_E_NO_CLASS with the outputs untouched. */
typedef HxStatus(HX_CALL* HxDllGetClassFormFn)(const HxGuid* classId, uint32_t* size,
                                                HxCreateFn* create, HxDestroyFn* destroy);
/* New interface object bound to instance in *out, one reference for the
 * caller (Release). HX_E_NO_INTERFACE, or HX_E_OUT_OF_MEMORY with *out = NULL. */
typedef HxStatus(HX_CALL* HxDllGetInterfaceFn)(void* instance, const HxGuid* classId,
                                                const HxGuid* interfaceId, void** out);
/* 0 when no interface object is alive, else HX_E_STILL_IN_USE. */
typedef HxStatus(HX_CALL* HxDllCanUnloadNowFn)(void);
/* Always HX_E_NO_CLASS: classes are made only through DllGetInterface. */
typedef HxStatus(HX_CALL* HxDllGetClassObjectFn)(const HxGuid* classId, const HxGuid* iid,
                                                  void** out);

/* The exports themselves, for code that links the module in. */
HX_EXTERN_C HxStatus HX_CALL DllGetClassInfo(HxAllocator* alloc, HxClassInfo** out);
HX_EXTERN_C HxStatus HX_CALL DllGetClassForm(const HxGuid* classId, uint32_t* size,
                                             HxCreateFn* create, HxDestroyFn* destroy);
HX_EXTERN_C HxStatus HX_CALL DllGetInterface(void* instance, const HxGuid* classId,
                                             const HxGuid* interfaceId, void** out);
HX_EXTERN_C HxStatus HX_CALL DllCanUnloadNow(void);
HX_EXTERN_C HxStatus HX_CALL DllGetClassObject(const HxGuid* classId, const HxGuid* iid,
                                               void** out);

#define HX_ENTRY_GET_CLASS_INFO "DllGetClassInfo"
#define HX_ENTRY_GET_CLASS_FORM "DllGetClassForm"
#define HX_ENTRY_GET_INTERFACE "DllGetInterface"
#define HX_ENTRY_CAN_UNLOAD_NOW "DllCanUnloadNow"
#define HX_ENTRY_GET_CLASS_OBJECT "DllGetClassObject"

#endif
