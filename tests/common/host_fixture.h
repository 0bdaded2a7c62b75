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
#include "host/literal.h"

namespace hx::test {

// One host value owned by the test, released at scope end.
using ScopedValue = ::hx::host::OwnedValue;

using Arg = ::hx::host::Literal;
using VoidArg = ::hx::host::VoidLiteral;
// Script arguments made in the host from literals ({5, 2.5, "a.wav",
// VoidArg{}}), released at scope end.
using ArgList = ::hx::host::ArgValues;

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
