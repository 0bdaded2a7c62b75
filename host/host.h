// Our scripting host: values, lists, registry and allocator as a host
// provides them to a module, with live counters so that any leak is seen.
// One Host per session (or per test); everything runs on one thread.
//
// Every failure a module can provoke through the host interfaces (a stale
// or forged value, a wrong type, a null pointer, a bad size, freeing an
// unknown block, one Release too many) is answered with a non-zero status
// and counted in protocolErrors(); running out of memory is not counted.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/script_host.h"
#include "hx_interfaces.h"

namespace hx::host {

// One typed registry entry as a module stored it.
struct RegistryEntry {
  int32_t type = 0;
  std::vector<uint8_t> data;  // text entries without their terminator
};

// Type code of the value that stands for a script object (`me`); modules
// only ever compare it against the codes of hx_types.h.
inline constexpr int32_t kTypeObject = 8;
// What typeOf() answers for a stale or forged value.
inline constexpr int32_t kTypeInvalid = -1;

class Host final : public ScriptHost {
 public:
  Host();
  // Frees whatever is still alive; every ScriptObject must be gone before.
  ~Host() override;
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Interfaces live as long as the Host; no reference for the caller.
  HxCallback* callback() override;
  HxAllocator* allocator() override;
  HxValueInterface* values();
  HxListInterface* lists();
  HxRegistryCache* registryCache();
  HxDict* newEntryDict();  // an entry dictionary to hand to Register (owned by the Host)

  // Values that hold at least one reference, of any type (void excluded).
  int64_t liveValues() const;
  // Blocks handed out by HostAlloc and not yet returned.
  int64_t liveBlocks() const;
  // References on the host's interfaces (callback, allocator, values, lists,
  // registry) taken by QueryInterface or AddRef and not yet released.
  int64_t interfaceReferences() const;
  // Misuse seen so far: release of a dead value, free of an unknown block,
  // wrong type passed to a list operation... Tests expect 0.
  int64_t protocolErrors() const;
  // What each counted misuse was (the first few hundred), for test messages.
  const std::vector<std::string>& protocolErrorLog() const;
  // Counts a misuse found outside the interfaces (the loader uses it).
  void noteProtocolError(std::string what) override;
  // Test hook: make the next n HostAlloc calls fail (return null).
  void failNextAllocations(int n);
  // Test hook: the k-th HostAlloc from now fails (1 = the next); 0 = none.
  // allocationsSeen() counts HostAlloc calls since, so a test can run a
  // scenario once to count them and then fail each in turn.
  void failAllocationAt(int64_t k);
  int64_t allocationsSeen() const;
  // Test hook: the k-th value made (IntegerToValue, FloatToValue,
  // StringToValue, NewList) or appended (AppendToList) through the
  // interfaces fails with HX_E_OUT_OF_MEMORY; 0 = none. valuesSeen() counts them.
  void failValueAt(int64_t k);
  int64_t valuesSeen() const;
  // Test hook: play a host without the value and/or list interface, whose
  // callback's QueryInterface answers HX_E_NO_INTERFACE for them.
  void withholdInterfaces(bool values, bool lists);
  // Size of a live HostAlloc block; nullopt for anything else.
  std::optional<uint32_t> blockSize(const void* block) const override;

  // Host-side value helpers. make* give a value with one reference owned
  // by the caller; release gives it back and sets v to void. makeString
  // refuses a text with an embedded NUL: void, and a protocol error.
  HxValue makeInteger(int32_t n);
  HxValue makeFloat(double x);
  HxValue makeString(std::string_view text);
  HxValue makeList();
  HxValue makeObject() override;  // the `me` of a script call
  void append(HxValue& list, const HxValue& v);
  void release(HxValue& v) override;
  bool isLive(const HxValue& v) const;     // holds a reference now (void: false)
  int32_t typeOf(const HxValue& v) const;  // HX_TYPE_..., kTypeObject or kTypeInvalid
  std::optional<int32_t> integerOf(const HxValue& v) const;
  std::optional<double> floatOf(const HxValue& v) const;  // float values only
  std::optional<std::string> stringOf(const HxValue& v) const;
  // Elements of a list, without new references (valid while the list lives).
  std::vector<HxValue> elementsOf(const HxValue& v) const;
  // As a script console shows it: 42, 0.5 (%.9g), "text" (with \" \\ \n \t \r
  // escaped, so it stays on one line), [1, 2.5, "x"], <void>;
  // <object> for a script object, <invalid> for a stale value.
  std::string format(const HxValue& v) const;

  // Entries a module registered, by class ID (any interface) and key.
  std::optional<RegistryEntry> registryEntry(const HxGuid& classId, const std::string& key) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
std::string guidText(const HxGuid& id);
bool sameGuid(const HxGuid& a, const HxGuid& b);
inline constexpr HxValue kVoidValue{0, 0};

}  // namespace hx::host
