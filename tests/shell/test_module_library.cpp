// The built module as a host sees it: a shared library with five exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "common/script_session.h"
#include "host/module.h"
#include "script/method_table.h"
#include "script/script_interface.h"
#include "hx_ids.h"

namespace hx::test {
namespace {

std::string modulePath() {
  const char* dir = std::getenv("HX_BUILD_DIR");
  return std::string(dir ? dir : ".") + "/" + HX_MODULE_FILE;
}

#ifndef _WIN32
std::set<std::string> exportedNames(const std::string& path) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string text(line);
    text.erase(text.find_last_not_of("\n") + 1);
    const auto space = text.rfind(' ');
    const char kind = space != std::string::npos && space >= 1 ? text[space - 1] : '?';
    // Only code and data the library defines and exports.
    if (kind == 'T' || kind == 'D' || kind == 'B' || kind == 'R') names.insert(text.substr(space + 1));
  }
  pclose(pipe);
  return names;
}

TEST(ModuleLibrary, ExportsOnlyTheFiveEntryPoints) {
  const std::set<std::string> expected = {"DllGetClassInfo", "DllGetClassForm", "DllGetInterface",
                                          "DllCanUnloadNow", "DllGetClassObject"};
  EXPECT_EQ(exportedNames(modulePath()), expected);
}
#endif

TEST(ModuleLibrary, LoadedModuleRunsAScriptSession) {
  host::Host host;
  std::string error;
  auto module = host::Module::load(modulePath(), &error);
  ASSERT_NE(module, nullptr) << error;
  ASSERT_EQ(module->registerClasses(host), HX_OK);
  const HxGuid scriptClass = HX_CLSID_SCRIPT;
  auto table = host.registryEntry(scriptClass, "msgTable");
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(std::string(table->data.begin(), table->data.end()), std::string(kMethodTable));
  {
    auto object = host::ScriptObject::create(host, *module, &error);
    ASSERT_NE(object, nullptr) << error;
    EXPECT_EQ(module->entry().canUnloadNow(), HX_E_STILL_IN_USE);
    HxValue n = host.makeInteger(1000);
    HxValue result = object->call(kMethodGetEqualizedFreqCount, {&n, 1});
    EXPECT_EQ(host.format(result), "11");
    host.release(result);
    host.release(n);
    result = object->call(kMethodGetError);
    EXPECT_EQ(host.format(result), "\"no error.\"");
    host.release(result);
  }
  EXPECT_EQ(module->entry().canUnloadNow(), HX_OK);
  module.reset();
  EXPECT_EQ(host.liveValues(), 0);
  EXPECT_EQ(host.liveBlocks(), 0);
  EXPECT_EQ(host.protocolErrors(), 0);
}

}  // namespace
}  // namespace hx::test
