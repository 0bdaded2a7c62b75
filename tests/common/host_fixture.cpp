#include "common/host_fixture.h"

#include <type_traits>

namespace hx::test {

ArgList::ArgList(::hx::host::Host& host, std::initializer_list<Arg> args)
    : ArgList(host, std::span<const Arg>(args.begin(), args.size())) {}

ArgList::ArgList(::hx::host::Host& host, std::span<const Arg> args) : host_(&host) {
  values_.reserve(args.size());
  for (const Arg& arg : args) {
    values_.push_back(std::visit(
        [&](const auto& a) -> HxValue {
          using T = std::decay_t<decltype(a)>;
          if constexpr (std::is_same_v<T, int32_t>) return host.makeInteger(a);
          else if constexpr (std::is_same_v<T, double>) return host.makeFloat(a);
          else if constexpr (std::is_same_v<T, std::string>) return host.makeString(a);
          else return ::hx::host::kVoidValue;
        },
        arg));
  }
}

ArgList::~ArgList() {
  for (HxValue& v : values_) host_->release(v);
}

std::string HostTest::errorLog() const {
  std::string text;
  for (const std::string& line : host.protocolErrorLog()) text += "\n  " + line;
  return text;
}

void HostTest::TearDown() {
  EXPECT_EQ(host.liveValues(), 0) << "host values not released";
  EXPECT_EQ(host.liveBlocks(), 0) << "allocator blocks not freed";
  EXPECT_EQ(host.interfaceReferences(), 0) << "host interface references not released";
  EXPECT_EQ(host.protocolErrors(), expectedProtocolErrors_) << "protocol errors:" << errorLog();
}

}  // namespace hx::test
