/* Interface tables shared by the module and the host.
 * An interface is a pointer to a struct whose first member points at a
 * table of function pointers in a fixed slot order; every slot takes the
 * interface pointer itself first. Slots are never reordered or removed. */
#ifndef HARMIDEX_ABI_HX_INTERFACES_H
#define HARMIDEX_ABI_HX_INTERFACES_H

#include "hx_types.h"

typedef struct HxUnknown HxUnknown;
typedef struct HxCallback HxCallback;
typedef struct HxAllocator HxAllocator;
typedef struct HxValueInterface HxValueInterface;
typedef struct HxListInterface HxListInterface;
typedef struct HxRegistryCache HxRegistryCache;
typedef struct HxDict HxDict;

/* The three slots every interface starts with. */
#define HX_UNKNOWN_SLOTS(Self)                                                             \
  /* New reference to the interface iid in *out (caller releases), or                    \
   * HX_E_NO_INTERFACE with *out = NULL. */                                              \
  HxStatus(HX_CALL* QueryInterface)(Self * self, const HxGuid* iid, void** out);         \
  /* One more reference; returns the new count. */                                       \
  uint32_t(HX_CALL* AddRef)(Self * self);                                                \
  /* One reference less; the object may be gone when the count reaches 0. */             \
  uint32_t(HX_CALL* Release)(Self * self)

typedef struct HxUnknownVtbl {
  HX_UNKNOWN_SLOTS(HxUnknown);
} HxUnknownVtbl;
struct HxUnknown {
  const HxUnknownVtbl* vtbl;
};

/* Host callback interface: reached through an instance's object header;
 * the module asks it for the value and list interfaces. */
typedef struct HxCallbackVtbl {
  HX_UNKNOWN_SLOTS(HxCallback);
} HxCallbackVtbl;
struct HxCallback {
  const HxCallbackVtbl* vtbl;
};

/* Host allocator. [host thread] */
typedef struct HxAllocatorVtbl {
  HX_UNKNOWN_SLOTS(HxAllocator);
  /* Block of size bytes owned by the caller until HostFree; NULL when memory is short. */
  void*(HX_CALL* HostAlloc)(HxAllocator* self, uint32_t size);
  /* Returns a block from HostAlloc of this allocator; NULL is ignored. */
  void(HX_CALL* HostFree)(HxAllocator* self, void* block);
} HxAllocatorVtbl;
struct HxAllocator {
  const HxAllocatorVtbl* vtbl;
};

/* Host value operations. A value written into *out holds one reference that
 * belongs to the caller (ValueRelease), unless the caller hands it over as a
 * call result. Non-zero status on failure, with *out untouched. [host thread] */
typedef struct HxValueInterfaceVtbl {
  HX_UNKNOWN_SLOTS(HxValueInterface);
  /* Type code of *v in *type (HX_TYPE_...). */
  HxStatus(HX_CALL* ValueType)(HxValueInterface* self, const HxValue* v, int32_t* type);
  /* Integer of an integer value; HX_E_WRONG_TYPE otherwise. */
  HxStatus(HX_CALL* ValueToInteger)(HxValueInterface* self, const HxValue* v, int32_t* out);
  /* Double of a float or integer value; HX_E_WRONG_TYPE otherwise. */
  HxStatus(HX_CALL* ValueToFloat)(HxValueInterface* self, const HxValue* v, double* out);
  /* Text of a string value into buf: at most size bytes, terminator included. */
  HxStatus(HX_CALL* ValueToString)(HxValueInterface* self, const HxValue* v, char* buf, int32_t size);
  HxStatus(HX_CALL* IntegerToValue)(HxValueInterface* self, int32_t n, HxValue* out);
  HxStatus(HX_CALL* FloatToValue)(HxValueInterface* self, double x, HxValue* out);
  /* Copies the zero-terminated text. */
  HxStatus(HX_CALL* StringToValue)(HxValueInterface* self, const char* text, HxValue* out);
  HxStatus(HX_CALL* ValueAddRef)(HxValueInterface* self, const HxValue* v);
  /* Gives back one reference; the value must not be used afterwards. */
  HxStatus(HX_CALL* ValueRelease)(HxValueInterface* self, HxValue* v);
} HxValueInterfaceVtbl;
struct HxValueInterface {
  const HxValueInterfaceVtbl* vtbl;
};

/* Host list operations. [host thread] */
typedef struct HxListInterfaceVtbl {
  HX_UNKNOWN_SLOTS(HxListInterface);
  /* Empty list in *out, owned by the caller. */
  HxStatus(HX_CALL* NewList)(HxListInterface* self, HxValue* out);
  /* The list takes its own reference to *v; the caller keeps its own. */
  HxStatus(HX_CALL* AppendToList)(HxListInterface* self, HxValue* list, const HxValue* v);
  /* Number of elements in *count; HX_E_WRONG_TYPE for a non-list. */
  HxStatus(HX_CALL* CountElements)(HxListInterface* self, const HxValue* list, int32_t* count);
  /* New reference to element index (0-based) in *out, owned by the caller;
   * HX_E_INVALID_ARG outside 0..count-1. */
  HxStatus(HX_CALL* GetValueByIndex)(HxListInterface* self, const HxValue* list, int32_t index,
                                     HxValue* out);
} HxListInterfaceVtbl;
struct HxListInterface {
  const HxListInterfaceVtbl* vtbl;
};

/* Registry type codes. */
#define HX_REG_TYPE_BOOL ((int32_t)6) /* data of the given size, 1 byte */
#define HX_REG_TYPE_TEXT ((int32_t)9) /* zero-terminated text; size 0 */

/* A registry dictionary: typed entries under text keys. [host thread] */
typedef struct HxDictVtbl {
  HX_UNKNOWN_SLOTS(HxDict);
  /* RegistryPut: copies size bytes of data (the text up to its terminator
   * when type is HX_REG_TYPE_TEXT and size 0) under key. 0 on success. */
  HxStatus(HX_CALL* RegistryPut)(HxDict* self, int32_t type, const void* data, int32_t size,
                                 const char* key);
} HxDictVtbl;
struct HxDict {
  const HxDictVtbl* vtbl;
};

/* The host's class registry, handed to Register. [host thread] */
typedef struct HxRegistryCacheVtbl {
  HX_UNKNOWN_SLOTS(HxRegistryCache);
  /* The registry dictionary of (classId, interfaceId) in *out, owned by the
   * cache (not released by the caller). Non-zero status on failure. */
  HxStatus(HX_CALL* AddRegistryEntry)(HxRegistryCache* self, HxDict* entryDict,
                                      const HxGuid* classId, const HxGuid* interfaceId,
                                      HxDict** out);
} HxRegistryCacheVtbl;
struct HxRegistryCache {
  const HxRegistryCacheVtbl* vtbl;
};

/* Start of every instance the host allocates for a module class. The host
 * fills it before the class's create routine runs; the module's own fields
 * follow it. Everything here belongs to the host. */
typedef struct HxObjectHeader {
  const HxUnknownVtbl* vtbl; /* the owning object's own QueryInterface/AddRef/Release,
                                called with the instance pointer as self */
  HxCallback* callback;      /* host callback interface, no reference for the module */
  HxAllocator* allocator;    /* host allocator interface, no reference for the module */
  void* hostData;            /* the host's own */
} HxObjectHeader;

/* Module-side interfaces. */
typedef struct HxRegistration HxRegistration;
typedef struct HxRegistrationVtbl {
  HX_UNKNOWN_SLOTS(HxRegistration);
  /* Records the script class in the host's registry; the host's status. */
  HxStatus(HX_CALL* Register)(HxRegistration* self, HxRegistryCache* cache, HxDict* entryDict);
} HxRegistrationVtbl;
struct HxRegistration {
  const HxRegistrationVtbl* vtbl;
};

typedef struct HxScript HxScript;
/* The published part of the script interface; the module's table continues
 * with slots of its own that hosts never call. */
typedef struct HxScriptVtbl {
  HX_UNKNOWN_SLOTS(HxScript);
  /* Runs a method; always HX_OK. The result value is in call->result. */
  HxStatus(HX_CALL* Call)(HxScript* self, HxCallRecord* call);
} HxScriptVtbl;
struct HxScript {
  const HxScriptVtbl* vtbl;
};

HX_STATIC_ASSERT(sizeof(HxObjectHeader) == 4 * sizeof(void*), "object header size");

#endif
