#include "common/script_session.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "audio/qt_file.h"
#include "hx_entry.h"
#include "shell/linked_entry_points.h"

namespace hx::test {

int32_t Result::integer() const {
  auto n = host().integerOf(get());
  EXPECT_TRUE(n.has_value()) << "not an integer: " << text();
  return n.value_or(-999999);
}

double Result::number() const {
  auto x = host().floatOf(get());
  EXPECT_TRUE(x.has_value()) << "not a float: " << text();
  return x.value_or(-999999.0);
}

std::string Result::string() const {
  auto s = host().stringOf(get());
  EXPECT_TRUE(s.has_value()) << "not a string: " << text();
  return s.value_or("<not a string>");
}

std::vector<double> Result::floats() const {
  std::vector<double> out;
  EXPECT_EQ(type(), HX_TYPE_LIST) << text().substr(0, 200);
  for (const HxValue& v : host().elementsOf(get())) {
    auto x = host().floatOf(v);
    EXPECT_TRUE(x.has_value());
    out.push_back(x.value_or(0.0));
  }
  return out;
}

host::EntryPoints linkedEntryPoints() { return LinkedEntryPoints<host::EntryPoints>(); }

const char* loadedModulePath() {
  const char* path = std::getenv("HX_LOADED_MODULE");
  return path != nullptr && path[0] != '\0' ? path : nullptr;
}

void ScriptSession::SetUp() {
  if (const char* path = loadedModulePath()) {
    std::string error;
    module = host::Module::load(path, &error);
    ASSERT_NE(module, nullptr) << error;
  } else {
    module = host::Module::fromEntryPoints(linkedEntryPoints());
  }
  object = newObject();
  ASSERT_NE(object, nullptr);
}

void ScriptSession::TearDown() {
  object.reset();
  if (module != nullptr) {
    EXPECT_EQ(module->entry().canUnloadNow(), HX_OK) << "an interface object is still alive";
  }
  module.reset();
  if (linkedModule()) {
    EXPECT_EQ(zrQTfile::liveReaders(), 0) << "a reader was left open";
  }
  HostTest::TearDown();
}

std::unique_ptr<host::ScriptObject> ScriptSession::newObject(bool callNew) {
  std::string error;
  auto made = host::ScriptObject::create(host, *module, &error, callNew);
  EXPECT_NE(made, nullptr) << error;
  return made;
}

Result ScriptSession::call(int32_t method, std::initializer_list<Arg> args) {
  return call(*object, method, args);
}

Result ScriptSession::call(host::ScriptObject& target, int32_t method, std::initializer_list<Arg> args) {
  ArgList values(host, args);
  return Result(host, target.call(method, values));
}

std::string ScriptSession::lastError() { return lastError(*object); }

std::string ScriptSession::lastError(host::ScriptObject& target) {
  return call(target, 8).string();
}

}  // namespace hx::test

namespace hx::test {

std::string FileSession::wav(const std::string& name, const std::vector<int16_t>& samples, int rate,
                             int channels) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(writeWav16(path, rate, channels, samples)) << path;
  return path;
}

int32_t FileSession::open(const std::string& path) {
  return call(1, {path}).integer();
}

std::vector<int16_t> periodicSine(size_t frames, double period, double amplitude) {
  std::vector<int16_t> out(frames);
  const double pi = std::acos(-1.0);
  for (size_t i = 0; i < frames; ++i) {
    out[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * pi * double(i) / period)));
  }
  return out;
}

}  // namespace hx::test
