// A test that owns a Host and, when it ends, requires that every value,
// block and interface reference was given back and no misuse was seen.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "host/host.h"

namespace hx::test {

// One host value owned by the test, released at scope end.
class ScopedValue {
 public:
  ScopedValue(::hx::host::Host& host, HxValue v) : host_(&host), v_(v) {}
  ~ScopedValue() { host_->release(v_); }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

  const HxValue& get() const { return v_; }
  HxValue* out() { return &v_; }  // for an operation that writes a new value
  std::string text() const { return host_->format(v_); }

 private:
  ::hx::host::Host* host_;
  HxValue v_;
};

struct VoidArg {};
using Arg = std::variant<int32_t, double, std::string, VoidArg>;

// Script arguments made in the host from literals ({5, 2.5, "a.wav",
// VoidArg{}}), released at scope end.
class ArgList {
 public:
  ArgList(::hx::host::Host& host, std::initializer_list<Arg> args);
  ArgList(::hx::host::Host& host, std::span<const Arg> args);  // a table's stored arguments
  ~ArgList();
  ArgList(const ArgList&) = delete;
  ArgList& operator=(const ArgList&) = delete;

  std::span<const HxValue> span() const { return values_; }
  operator std::span<const HxValue>() const { return values_; }
  const HxValue& operator[](size_t i) const { return values_.at(i); }
  size_t size() const { return values_.size(); }

 private:
  ::hx::host::Host* host_;
  std::vector<HxValue> values_;
};

// Fixture members that hold host values or script objects (a
// unique_ptr<ScriptObject>, say) must be reset in the derived TearDown
// before it calls HostTest::TearDown.
class HostTest : public ::testing::Test {
 protected:
  void TearDown() override;
  // Misuse a test provokes on purpose; TearDown expects exactly this many.
  void expectProtocolErrors(int64_t n) { expectedProtocolErrors_ += n; }
  std::string errorLog() const;

  ::hx::host::Host host;

 private:
  int64_t expectedProtocolErrors_ = 0;
};

}  // namespace hx::test
