// A stand-in module with one registration class and one script class,
// written only against the ABI headers: it proves the loader and the host
// work with any module, not just ours. Linked into test_host and also built
// as the loadable library hx_fake_module.
#pragma once

#include <cstdint>

#include "host/module.h"

namespace hx::test::fake {

inline constexpr HxGuid kRegistrationClass = {
    0x0FA4E001u, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x44, 0x01}};
inline constexpr HxGuid kScriptClass = {
    0x0FA4E002u, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x44, 0x02}};
inline constexpr const char* kMethodTable = "xtra Fake\nnew object me\necho object me, *\n";

// Methods of the script class.
enum Method : int32_t {
  kNew = 0,      // does nothing
  kEcho = 1,     // list of every argument, me included
  kArgCount = 2  // the argument count as an integer
};

// Ways to make the module break the protocol; all off unless a test sets them.
struct Faults {
  bool dropTerminator = false;      // class info array ends without its terminator
  bool instanceTooSmall = false;    // class form smaller than an object header
  bool keepOwnerReference = false;  // last Release of an interface keeps one owner reference
  bool failCall = false;            // Call answers a failure status
};

Faults& faults();
int32_t liveInterfaces();
::hx::host::EntryPoints entryPoints();

}  // namespace hx::test::fake
