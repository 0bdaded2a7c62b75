/* Basic types shared by the module and any host that loads it.
 * Plain C so that a module built by one compiler can be driven by a host
 * built by another; every layout the two sides rely on is asserted below. */
#ifndef HARMIDEX_ABI_HX_TYPES_H
#define HARMIDEX_ABI_HX_TYPES_H

#include <stddef.h>
#include <stdint.h>

/* Calling convention of every function that crosses the module boundary.
 * Where the two Windows builds differ, and nowhere else:
 *   32-bit (harmidex.dll for i686): __stdcall, pointers of 4 bytes; the
 *     compiler decorates each export as _Name@bytes, and the .def file with
 *     --kill-at exports it undecorated.
 *   64-bit (harmidex.dll for x86-64): the platform's one convention,
 *     pointers of 8 bytes, no decoration.
 * Layouts below hold on both; those with pointers grow with them. */
#if defined(_WIN32) && !defined(_WIN64)
#define HX_CALL __stdcall
#else
#define HX_CALL
#endif

/* The layout checks below need C11 or C++11, and nothing of any one
 * compiler's own. */
#ifdef __cplusplus
#define HX_EXTERN_C extern "C"
#define HX_STATIC_ASSERT static_assert
#define HX_ALIGNOF(type) alignof(type)
#else
#define HX_EXTERN_C
#define HX_STATIC_ASSERT _Static_assert
#define HX_ALIGNOF(type) _Alignof(type)
#endif

/* Status of a boundary call: 0 is success. */
typedef int32_t HxStatus;

#define HX_OK ((HxStatus)0)
#define HX_E_OUT_OF_MEMORY ((HxStatus)0x80040002u)
#define HX_E_STILL_IN_USE ((HxStatus)0x80040003u)
#define HX_E_NO_INTERFACE ((HxStatus)0x80040004u)
#define HX_E_NO_CLASS ((HxStatus)0x80040005u)
/* Host-side failures the module never produces itself. */
#define HX_E_INVALID_ARG ((HxStatus)0x80070057u)
#define HX_E_WRONG_TYPE ((HxStatus)0x80040010u)

/* 16-byte class and interface identifier, laid out as a Windows GUID. */
typedef struct HxGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
} HxGuid;

/* An opaque host value, copied by value. Its bits mean something only to
 * the host that made it. Two 32-bit halves keep the alignment at 4 on every
 * compiler, so call records have one layout everywhere. */
typedef struct HxValue {
  uint32_t lo;
  uint32_t hi;
} HxValue;

/* Type codes reported by ValueType. */
#define HX_TYPE_VOID ((int32_t)0)
#define HX_TYPE_INTEGER ((int32_t)1)
#define HX_TYPE_STRING ((int32_t)3)
#define HX_TYPE_FLOAT ((int32_t)6)
#define HX_TYPE_LIST ((int32_t)7)

/* Per-call record handed to the script interface's Call.
 * args[p - 1] is argument position p; position 1 is the object itself. */
typedef struct HxCallRecord {
  int32_t methodNumber; /* 0-based line of the method in the method table */
  HxValue result;       /* written by the method; owned by the host after Call */
  int32_t argCount;     /* number of arguments, the object included */
  HxValue* args;        /* host-owned array of argCount values */
} HxCallRecord;

HX_STATIC_ASSERT(sizeof(HxGuid) == 16, "HxGuid is 16 bytes");
HX_STATIC_ASSERT(sizeof(HxValue) == 8, "HxValue is 8 bytes");
HX_STATIC_ASSERT(HX_ALIGNOF(HxValue) == 4, "HxValue aligns at 4");
HX_STATIC_ASSERT(offsetof(HxCallRecord, methodNumber) == 0, "call record layout");
HX_STATIC_ASSERT(offsetof(HxCallRecord, result) == 4, "call record layout");
HX_STATIC_ASSERT(offsetof(HxCallRecord, argCount) == 12, "call record layout");
HX_STATIC_ASSERT(offsetof(HxCallRecord, args) == 16, "call record layout");
HX_STATIC_ASSERT(sizeof(HxCallRecord) == 16 + sizeof(void*),
                 "call record size");

#endif
