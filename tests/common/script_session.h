// A script object on our host, made from the module's code linked into the
// test program, with leak checks at the end of every test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/host_fixture.h"
#include "common/media_files.h"
#include "host/host.h"
#include "host/literal.h"
#include "host/module.h"

namespace hx::test {

// A result value released when it goes out of scope, with readers that
// fail the test on a value of another type.
class Result : public host::OwnedValue {
 public:
  using OwnedValue::OwnedValue;

  const HxValue& value() const { return get(); }
  int32_t type() const { return host().typeOf(get()); }
  // The integer of an integer result; fails the test otherwise.
  int32_t integer() const;
  double number() const;  // a float result
  std::string string() const;
  // The floats of a list result.
  std::vector<double> floats() const;
};

// Entry points of the module linked into the test program.
host::EntryPoints linkedEntryPoints();

// The built module file named by HX_LOADED_MODULE, or null: sessions then
// load it as a host does instead of using the module linked into the test
// program, and assertions on the module's inner counters are skipped.
const char* loadedModulePath();
inline bool linkedModule() { return loadedModulePath() == nullptr; }

class ScriptSession : public HostTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Calls a method by number with host values made from args.
  Result call(int32_t method, std::initializer_list<Arg> args = {});
  Result call(host::ScriptObject& object, int32_t method, std::initializer_list<Arg> args = {});
  // The last-error text (method 8).
  std::string lastError();
  std::string lastError(host::ScriptObject& object);
  // Another object on the same host and module.
  std::unique_ptr<host::ScriptObject> newObject(bool callNew = true);

  std::unique_ptr<host::Module> module;
  std::unique_ptr<host::ScriptObject> object;
};

// A session with generated WAV files in a temporary directory.
class FileSession : public ScriptSession {
 protected:
  // Writes 16-bit interleaved samples as name in the temporary directory.
  std::string wav(const std::string& name, const std::vector<int16_t>& samples, int rate = 44100,
                  int channels = 1);
  // openQuicktimeFile; the fileID (or the error code).
  int32_t open(const std::string& path);

  TempDir dir;
};

// round(amplitude * sin(2 pi i / period)) for i in [0, frames).
std::vector<int16_t> periodicSine(size_t frames, double period, double amplitude);

}  // namespace hx::test
