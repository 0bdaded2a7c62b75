// The host the Python extension gives the module: the interfaces of our
// strict host, built for speed. Integers and floats live inside the 8-byte
// value itself (nothing to allocate or release); texts, other doubles and
// lists are counted cells. A list of floats keeps them as a float array,
// which becomes a numpy array's buffer without a copy. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/script_host.h"

namespace hx::pyhost {

class LeanHost final : public host::ScriptHost {
 public:
  LeanHost();
  ~LeanHost() override;
  LeanHost(const LeanHost&) = delete;
  LeanHost& operator=(const LeanHost&) = delete;

  HxCallback* callback() override;
  HxAllocator* allocator() override;
  HxValue makeObject() override;
  void release(HxValue& v) override;
  std::optional<uint32_t> blockSize(const void* block) const override;
  void noteProtocolError(std::string what) override;

  // Values with one reference for the caller (release); numbers need none.
  HxValue makeInteger(int32_t n);
  HxValue makeFloat(double x);
  HxValue makeString(std::string_view text);  // void for a text with a NUL
  std::optional<int32_t> integerOf(const HxValue& v) const;
  std::optional<double> floatOf(const HxValue& v) const;  // float values only
  std::optional<std::string> stringOf(const HxValue& v) const;
  bool isList(const HxValue& v) const;

  // The next list made appends to the end of this storage (what earlier
  // calls gave), so that chunks and columns land in one array. Taken back
  // by takeFloats, or by reclaimStorage when no list was made.
  void lendStorage(std::vector<float>&& storage);
  std::vector<float> reclaimStorage();
  // The list's storage, lent part included, when it holds only floats.
  std::optional<std::vector<float>> takeFloats(const HxValue& list);

  int64_t liveValues() const;
  int64_t liveBlocks() const;
  int64_t interfaceReferences() const;
  int64_t protocolErrors() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Argument values of one call, released when it ends.
class CallArgs {
 public:
  explicit CallArgs(LeanHost& host) : host_(host) {}
  ~CallArgs() {
    for (HxValue& v : values_) host_.release(v);
  }
  CallArgs(const CallArgs&) = delete;
  CallArgs& operator=(const CallArgs&) = delete;
  CallArgs& add(int32_t n) { return push(host_.makeInteger(n)); }
  CallArgs& add(double x) { return push(host_.makeFloat(x)); }
  CallArgs& add(std::string_view text) { return push(host_.makeString(text)); }
  operator std::span<const HxValue>() const { return values_; }

 private:
  CallArgs& push(HxValue v) {
    values_.push_back(v);
    return *this;
  }
  LeanHost& host_;
  std::vector<HxValue> values_;
};

}  // namespace hx::pyhost
