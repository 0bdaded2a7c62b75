// Our scripting host: values, lists, registry and allocator as a host
// provides them to a module, with live counters so that any leak is seen.
// One Host per session (or per test); everything runs on one thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hx_interfaces.h"

namespace hx::host {

// One typed registry entry as a module stored it.
struct RegistryEntry {
  int32_t type = 0;
  std::vector<uint8_t> data;  // text entries without their terminator
};

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Interfaces live as long as the Host; no reference for the caller.
  HxCallback* callback();
  HxAllocator* allocator();
  HxValueInterface* values();
  HxListInterface* lists();
  HxRegistryCache* registryCache();
  HxDict* newEntryDict();  // an entry dictionary to hand to Register (owned by the Host)

  // Values that hold at least one reference, of any type (void excluded).
  int64_t liveValues() const;
  // Blocks handed out by HostAlloc and not yet returned.
  int64_t liveBlocks() const;
  // Misuse seen so far: release of a dead value, free of an unknown block,
  // wrong type passed to a list operation... Tests expect 0.
  int64_t protocolErrors() const;
  // Test hook: make the next n HostAlloc calls fail (return null).
  void failNextAllocations(int n);

  // Host-side value helpers. make* give a value with one reference owned
  // by the caller; release gives it back and sets v to void.
  HxValue makeInteger(int32_t n);
  HxValue makeFloat(double x);
  HxValue makeString(std::string_view text);
  HxValue makeList();
  void append(HxValue& list, const HxValue& v);
  void release(HxValue& v);
  int32_t typeOf(const HxValue& v) const;  // HX_TYPE_...
  std::optional<int32_t> integerOf(const HxValue& v) const;
  std::optional<double> floatOf(const HxValue& v) const;  // float values only
  std::optional<std::string> stringOf(const HxValue& v) const;
  // Elements of a list, without new references (valid while the list lives).
  std::vector<HxValue> elementsOf(const HxValue& v) const;
  // As a script console shows it: 42, 0.5 (%.9g), "text", [1, 2.5, "x"], <void>.
  std::string format(const HxValue& v) const;

  // Entries a module registered, by class ID text "{XXXXXXXX-XXXX-...}" and key.
  std::optional<RegistryEntry> registryEntry(const HxGuid& classId, const std::string& key) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

std::string guidText(const HxGuid& id);
bool sameGuid(const HxGuid& a, const HxGuid& b);
inline constexpr HxValue kVoidValue{0, 0};

}  // namespace hx::host
