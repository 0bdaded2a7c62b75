/* Sizes and offsets hosts rely on, written once and evaluated both by a C
 * unit (layout_in_c.c) and by the C++ test. */
#ifndef HARMIDEX_TESTS_ABI_LAYOUT_IN_C_H
#define HARMIDEX_TESTS_ABI_LAYOUT_IN_C_H

#include "hx_entry.h"

#define HX_ABI_LAYOUT(X)                          \
  X(sizeof(HxValue))                              \
  X(HX_ALIGNOF(HxValue))                          \
  X(sizeof(HxGuid))                               \
  X(sizeof(HxClassInfo))                          \
  X(offsetof(HxClassInfo, classVersion))          \
  X(offsetof(HxClassInfo, interfaceId))           \
  X(offsetof(HxClassInfo, interfaceVersion))      \
  X(sizeof(HxCallRecord))                         \
  X(offsetof(HxCallRecord, result))               \
  X(offsetof(HxCallRecord, argCount))             \
  X(offsetof(HxCallRecord, args))                 \
  X(sizeof(HxObjectHeader))                       \
  X(offsetof(HxObjectHeader, callback))           \
  X(offsetof(HxObjectHeader, allocator))          \
  X(offsetof(HxValueInterfaceVtbl, ValueType))    \
  X(offsetof(HxValueInterfaceVtbl, ValueRelease)) \
  X(sizeof(HxValueInterfaceVtbl))                 \
  X(sizeof(HxListInterfaceVtbl))                  \
  X(sizeof(HxAllocatorVtbl))                      \
  X(sizeof(HxCallbackVtbl))                       \
  X(sizeof(HxRegistryCacheVtbl))                  \
  X(sizeof(HxDictVtbl))                           \
  X(offsetof(HxScriptVtbl, Call))                 \
  X(offsetof(HxRegistrationVtbl, Register))

#ifdef __cplusplus
extern "C" {
#endif
extern const uint32_t hxLayoutInC[];
extern const uint32_t hxLayoutInCCount;
#ifdef __cplusplus
}
#endif

#endif
