// Script arguments written as literals, and host values owned by a scope:
// what every client of our host (the command, the tests) builds calls from.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "host/host.h"

namespace hx::host {

struct VoidLiteral {
  bool operator==(const VoidLiteral&) const = default;
};
// An argument as a script writes it: 42, 0.5, "a.wav", or no value at all.
using Literal = std::variant<int32_t, double, std::string, VoidLiteral>;

// The host's value for a literal, owned by the caller (Host::release).
HxValue makeValue(Host& host, const Literal& literal);

// One host value, released when it goes out of scope.
class OwnedValue {
 public:
  OwnedValue(Host& host, HxValue v) : host_(&host), v_(v) {}
  ~OwnedValue() { host_->release(v_); }
  OwnedValue(OwnedValue&& other) noexcept : host_(other.host_), v_(other.v_) {
    other.v_ = kVoidValue;
  }
  OwnedValue(const OwnedValue&) = delete;
  OwnedValue& operator=(const OwnedValue&) = delete;
  OwnedValue& operator=(OwnedValue&&) = delete;

  const HxValue& get() const { return v_; }
  HxValue* out() { return &v_; }  // for an operation that writes a new value
  std::string text() const { return host_->format(v_); }
  Host& host() const { return *host_; }

 private:
  Host* host_;
  HxValue v_;
};

// The values of a call's arguments, made from literals and released at
// scope end.
class ArgValues {
 public:
  ArgValues(Host& host, std::span<const Literal> args);
  ArgValues(Host& host, std::initializer_list<Literal> args)
      : ArgValues(host, std::span<const Literal>(args.begin(), args.size())) {}
  ~ArgValues();
  ArgValues(const ArgValues&) = delete;
  ArgValues& operator=(const ArgValues&) = delete;

  std::span<const HxValue> span() const { return values_; }
  operator std::span<const HxValue>() const { return values_; }
  const HxValue& operator[](size_t i) const { return values_.at(i); }
  size_t size() const { return values_.size(); }

 private:
  Host* host_;
  std::vector<HxValue> values_;
};

}  // namespace hx::host
