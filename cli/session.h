// One script object on our host, made from a module loaded from a file,
// as a scripting host makes it. Everything is torn down in reverse order:
// the object, then the module, then the host.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/call_line.h"
#include "host/host.h"
#include "host/module.h"

namespace hx::cli {

// A host value released when it goes out of scope.
class OwnedValue {
 public:
  OwnedValue(host::Host& host, HxValue v) : host_(&host), v_(v) {}
  ~OwnedValue() { host_->release(v_); }
  OwnedValue(OwnedValue&& other) noexcept : host_(other.host_), v_(other.v_) {
    other.v_ = host::kVoidValue;
  }
  OwnedValue(const OwnedValue&) = delete;
  OwnedValue& operator=(const OwnedValue&) = delete;
  OwnedValue& operator=(OwnedValue&&) = delete;

  const HxValue& get() const { return v_; }

 private:
  host::Host* host_;
  HxValue v_;
};

// What the host still counts once the object and the module are gone.
struct LeakReport {
  int64_t liveValues = 0;
  int64_t liveBlocks = 0;
  int64_t interfaceReferences = 0;
  int64_t protocolErrors = 0;
  std::vector<std::string> protocolErrorLog;

  bool clean() const {
    return liveValues == 0 && liveBlocks == 0 && interfaceReferences == 0 && protocolErrors == 0;
  }
  std::string summary() const;
};

// harmidex.so (harmidex.dll on Windows) in the executable's folder, or
// where an install put it when there is none beside the executable; empty
// when the executable's path cannot be found.
std::string defaultModulePath();

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the module and makes the object, calling `new` without
  // arguments. False with *error set on failure.
  bool start(const std::string& modulePath, std::string* error);

  // Calls a method of the object; `me` is added by the host.
  OwnedValue call(int32_t method, const std::vector<Literal>& args = {});
  // The object's last-error text (getError).
  std::string lastError();
  // Destroys the object and unloads the module; what the host then counts.
  LeakReport finish();

  host::Host& host() { return host_; }

 private:
  host::Host host_;
  std::unique_ptr<host::Module> module_;
  std::unique_ptr<host::ScriptObject> object_;
};

}  // namespace hx::cli
