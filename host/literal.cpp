// Literals made into host values, and their owners.
#include "host/literal.h"

#include <type_traits>

namespace hx::host {

HxValue makeValue(Host& host, const Literal& literal) {
  return std::visit(
      [&](const auto& v) -> HxValue {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, int32_t>) return host.makeInteger(v);
        else if constexpr (std::is_same_v<T, double>) return host.makeFloat(v);
        else if constexpr (std::is_same_v<T, std::string>) return host.makeString(v);
        else return kVoidValue;
      },
      literal);
}

ArgValues::ArgValues(Host& host, std::span<const Literal> args) : host_(&host) {
  values_.reserve(args.size());
  for (const Literal& a : args) values_.push_back(makeValue(host, a));
}

ArgValues::~ArgValues() {
  for (HxValue& v : values_) host_->release(v);
}

}  // namespace hx::host
