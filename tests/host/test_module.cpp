// The loader and the script object driver, run over a stand-in module
// (fake_module.cpp) linked in and loaded from its own library.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/host_fixture.h"
#include "common/media_files.h"
#ifndef _WIN32
#include "common/fifo.h"
#endif
#include "fake_module.h"
#include "host/module.h"
#include "hx_ids.h"

namespace {

namespace fake = hx::test::fake;
using hx::host::Module;
using hx::host::sameGuid;
using hx::host::ScriptObject;
using hx::test::ArgList;
using hx::test::HostTest;
using hx::test::ScopedValue;

constexpr HxGuid kClassEntry = HX_IID_CLASS_ENTRY;
constexpr HxGuid kRegistrationIid = HX_IID_REGISTRATION;
constexpr HxGuid kScriptIid = HX_IID_SCRIPT;

class ModuleTest : public HostTest {
 protected:
  void SetUp() override {
    fake::faults() = fake::Faults{};
    module = Module::fromEntryPoints(fake::entryPoints());
  }
  void TearDown() override {
    EXPECT_EQ(fake::liveInterfaces(), 0);
    module.reset();
    HostTest::TearDown();
  }

  std::unique_ptr<ScriptObject> makeObject() {
    std::string error;
    auto object = ScriptObject::create(host, *module, &error);
    EXPECT_NE(object, nullptr) << error;
    return object;
  }

  std::unique_ptr<Module> module;
};

TEST_F(ModuleTest, ClassInfoListsEachClassThenItsInterfaceAndFreesTheArray) {
  HxStatus status = -1;
  auto info = module->classInfo(host, &status);
  EXPECT_EQ(status, HX_OK);
  ASSERT_EQ(info.size(), 4u);
  const HxGuid* classes[] = {&fake::kRegistrationClass, &fake::kRegistrationClass,
                             &fake::kScriptClass, &fake::kScriptClass};
  const HxGuid* interfaces[] = {&kClassEntry, &kRegistrationIid, &kClassEntry, &kScriptIid};
  for (size_t i = 0; i < info.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(sameGuid(info[i].classId, *classes[i]));
    EXPECT_TRUE(sameGuid(info[i].interfaceId, *interfaces[i]));
  }
  EXPECT_EQ(info[0].interfaceVersion, 1u);
  EXPECT_EQ(info[1].classVersion, HX_CLASS_VERSION);
  EXPECT_EQ(host.liveBlocks(), 0);
}

TEST_F(ModuleTest, ClassInfoOutOfMemoryGivesTheModulesStatusAndNoEntries) {
  host.failNextAllocations(1);
  HxStatus status = HX_OK;
  EXPECT_TRUE(module->classInfo(host, &status).empty());
  EXPECT_EQ(status, HX_E_OUT_OF_MEMORY);
}

TEST_F(ModuleTest, ClassInfoWithoutTerminatorStopsAtTheEndOfTheBlock) {
  fake::faults().dropTerminator = true;
  HxStatus status = HX_OK;
  EXPECT_EQ(module->classInfo(host, &status).size(), 4u);
  EXPECT_EQ(status, HX_E_INVALID_ARG);
  expectProtocolErrors(1);
}

TEST_F(ModuleTest, FindClassNamesTheClassOfAnInterface) {
  struct Case {
    const char* name;
    HxGuid interfaceId;
    bool found;
    HxGuid classId;
  };
  const Case cases[] = {
      {"script", kScriptIid, true, fake::kScriptClass},
      {"registration", kRegistrationIid, true, fake::kRegistrationClass},
      {"class entry marker", kClassEntry, false, {}},
      {"unknown", HX_IID_VALUE_INTERFACE, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HxGuid classId{};
    EXPECT_EQ(module->findClass(host, c.interfaceId, &classId), c.found);
    EXPECT_TRUE(sameGuid(classId, c.classId));
  }
}

TEST_F(ModuleTest, RegisterClassesFilesMethodTableAndFlag) {
  EXPECT_EQ(module->registerClasses(host), HX_OK);
  auto table = host.registryEntry(fake::kScriptClass, "msgTable");
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->type, HX_REG_TYPE_TEXT);
  EXPECT_EQ(std::string(table->data.begin(), table->data.end()), fake::kMethodTable);
  auto safe = host.registryEntry(fake::kScriptClass, "safeForShockwave");
  ASSERT_TRUE(safe.has_value());
  EXPECT_EQ(safe->type, HX_REG_TYPE_BOOL);
  EXPECT_EQ(safe->data, std::vector<uint8_t>{1});
}

TEST_F(ModuleTest, RegisterClassesReportsAFailedFactory) {
  host.failNextAllocations(1);  // the class info array
  EXPECT_EQ(module->registerClasses(host), HX_E_NO_CLASS);
  host.failNextAllocations(0);
  EXPECT_FALSE(host.registryEntry(fake::kScriptClass, "msgTable").has_value());
}

TEST_F(ModuleTest, CallPassesMeFirstThenTheArgumentsInOrder) {
  auto object = makeObject();
  ASSERT_NE(object, nullptr);
  ArgList args(host, {5, 2.5, "x", hx::test::VoidArg{}});
  ScopedValue echoed(host, object->call(fake::kEcho, args));
  EXPECT_EQ(echoed.text(), "[<object>, 5, 2.5, \"x\", <void>]");
  ScopedValue count(host, object->call(fake::kArgCount));
  EXPECT_EQ(host.integerOf(count.get()), 1);
}

TEST_F(ModuleTest, MethodWithoutResultGivesVoid) {
  auto object = makeObject();
  ASSERT_NE(object, nullptr);
  HxValue result = object->call(fake::kNew);
  EXPECT_EQ(host.typeOf(result), HX_TYPE_VOID);
}

TEST_F(ModuleTest, ObjectLifeCycleLeavesNothingBehind) {
  auto object = makeObject();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(module->entry().canUnloadNow(), HX_E_STILL_IN_USE);
  EXPECT_EQ(host.liveBlocks(), 1);  // the script interface object
  EXPECT_EQ(host.interfaceReferences(), 2);  // value and list interfaces
  ArgList args(host, {1});
  ScopedValue r(host, object->call(fake::kEcho, args));
  object.reset();
  EXPECT_EQ(module->entry().canUnloadNow(), HX_OK);
  EXPECT_EQ(host.liveBlocks(), 0);
  EXPECT_EQ(host.interfaceReferences(), 0);
}

TEST_F(ModuleTest, TwoObjectsHaveSeparateInstances) {
  auto a = makeObject();
  auto b = makeObject();
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->instance(), b->instance());
  EXPECT_EQ(fake::liveInterfaces(), 2);
}

TEST_F(ModuleTest, AddRefTwiceReleaseThreeTimesRestoresTheOwnerCount) {
  auto object = makeObject();
  ASSERT_NE(object, nullptr);
  const int32_t before = object->ownerRefCount();
  EXPECT_EQ(before, 3);  // the host's own and two for the script interface
  void* out = nullptr;
  ASSERT_EQ(module->entry().getInterface(object->instance(), &fake::kScriptClass, &kScriptIid, &out),
            HX_OK);
  auto* script = static_cast<HxScript*>(out);
  EXPECT_EQ(object->ownerRefCount(), before + 2);
  EXPECT_EQ(script->vtbl->AddRef(script), 2u);
  EXPECT_EQ(script->vtbl->AddRef(script), 3u);
  EXPECT_EQ(script->vtbl->Release(script), 2u);
  EXPECT_EQ(script->vtbl->Release(script), 1u);
  EXPECT_EQ(host.liveBlocks(), 2);
  EXPECT_EQ(script->vtbl->Release(script), 0u);
  EXPECT_EQ(host.liveBlocks(), 1);
  EXPECT_EQ(object->ownerRefCount(), before);
}

TEST_F(ModuleTest, QueryInterfaceOnTheOwnerMakesANewInterfaceObject) {
  auto object = makeObject();
  ASSERT_NE(object, nullptr);
  HxScript* script = object->script();
  void* out = nullptr;
  ASSERT_EQ(script->vtbl->QueryInterface(script, &kScriptIid, &out), HX_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_NE(out, script);
  EXPECT_EQ(fake::liveInterfaces(), 2);
  static_cast<HxScript*>(out)->vtbl->Release(static_cast<HxScript*>(out));
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(script->vtbl->QueryInterface(script, &kRegistrationIid, &none), HX_E_NO_INTERFACE);
  EXPECT_EQ(none, nullptr);
}

// The module's own allocation inside DllGetInterface fails, not the
// host's earlier ones.
hx::host::Host* gFailingHost = nullptr;
HxStatus HX_CALL getInterfaceOutOfMemory(void* instance, const HxGuid* classId, const HxGuid* iid,
                                         void** out) {
  gFailingHost->failNextAllocations(1);
  return fake::entryPoints().getInterface(instance, classId, iid, out);
}

TEST_F(ModuleTest, FailedFactoryDestroysTheInstanceAndReportsWhy) {
  gFailingHost = &host;
  hx::host::EntryPoints entry = fake::entryPoints();
  entry.getInterface = getInterfaceOutOfMemory;
  auto failing = Module::fromEntryPoints(entry);
  std::string error;
  EXPECT_EQ(ScriptObject::create(host, *failing, &error), nullptr);
  EXPECT_NE(error.find("DllGetInterface"), std::string::npos) << error;
  EXPECT_NE(error.find("80040002"), std::string::npos) << error;
  // The destroy routine ran: the value and list interfaces were given back.
  EXPECT_EQ(host.interfaceReferences(), 0);
  EXPECT_EQ(failing->registerClasses(host), HX_E_OUT_OF_MEMORY);
  EXPECT_FALSE(host.registryEntry(fake::kScriptClass, "msgTable").has_value());
}

TEST_F(ModuleTest, RegisterClassesWithoutClassInfoRegistersNothing) {
  host.failNextAllocations(1);  // the class info array
  EXPECT_EQ(module->registerClasses(host), HX_E_NO_CLASS);
  EXPECT_FALSE(host.registryEntry(fake::kScriptClass, "msgTable").has_value());
}

// A class info array holding only its terminator.
HxStatus HX_CALL getNoClasses(HxAllocator* alloc, HxClassInfo** out) {
  *out = static_cast<HxClassInfo*>(alloc->vtbl->HostAlloc(alloc, sizeof(HxClassInfo)));
  if (*out == nullptr) return HX_E_OUT_OF_MEMORY;
  std::memset(*out, 0, sizeof(HxClassInfo));
  return HX_OK;
}

TEST_F(ModuleTest, ModuleWithoutScriptClassGivesNoObject) {
  hx::host::EntryPoints entry = fake::entryPoints();
  entry.getClassInfo = getNoClasses;
  auto empty = Module::fromEntryPoints(entry);
  std::string error;
  EXPECT_EQ(ScriptObject::create(host, *empty, &error), nullptr);
  EXPECT_EQ(error, "module has no script class");
  EXPECT_EQ(empty->registerClasses(host), HX_E_NO_CLASS);
}

// A module that breaks the protocol is reported, never followed into a crash.
TEST_F(ModuleTest, ProtocolBreachesOfTheModuleAreCounted) {
  struct Case {
    const char* name;
    bool fake::Faults::*fault;
    int64_t errors;
  };
  const Case cases[] = {
      {"interface keeps an owner reference", &fake::Faults::keepOwnerReference, 1},
      {"Call fails", &fake::Faults::failCall, 2},  // new, then the call below
  };
  int64_t errors = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::faults() = fake::Faults{};
    fake::faults().*c.fault = true;
    auto object = makeObject();
    ASSERT_NE(object, nullptr);
    HxValue r = object->call(fake::kNew);
    object.reset();
    errors += c.errors;
    EXPECT_EQ(host.protocolErrors(), errors) << errorLog();
    host.release(r);
  }
  expectProtocolErrors(errors);
}

TEST_F(ModuleTest, InstanceSmallerThanTheHeaderIsRefused) {
  fake::faults().instanceTooSmall = true;
  std::string error;
  EXPECT_EQ(ScriptObject::create(host, *module, &error), nullptr);
  EXPECT_NE(error.find("class form"), std::string::npos) << error;
  expectProtocolErrors(1);
}

TEST_F(ModuleTest, LoadedLibraryServesTheSameClasses) {
  std::string error;
  auto loaded = Module::load(HX_FAKE_MODULE_PATH, &error);
  ASSERT_NE(loaded, nullptr) << error;
  EXPECT_EQ(loaded->classInfo(host).size(), 4u);
  EXPECT_EQ(loaded->entry().getClassObject(&fake::kScriptClass, &kScriptIid, nullptr),
            HX_E_NO_CLASS);
  EXPECT_EQ(loaded->registerClasses(host), HX_OK);
  EXPECT_TRUE(host.registryEntry(fake::kScriptClass, "safeForShockwave").has_value());
  auto object = ScriptObject::create(host, *loaded, &error);
  ASSERT_NE(object, nullptr) << error;
  ArgList args(host, {"from the library"});
  ScopedValue echoed(host, object->call(fake::kEcho, args));
  EXPECT_EQ(echoed.text(), "[<object>, \"from the library\"]");
  EXPECT_EQ(loaded->entry().canUnloadNow(), HX_E_STILL_IN_USE);
  // The library has its own copy of the module's globals.
  EXPECT_EQ(fake::liveInterfaces(), 0);
  object.reset();
  EXPECT_EQ(loaded->entry().canUnloadNow(), HX_OK);
}

TEST_F(ModuleTest, LoadFailuresSayWhy) {
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"/nonexistent/harmidex-missing.so", "cannot load /nonexistent/harmidex-missing.so"},
#ifdef _WIN32
      {"kernel32.dll", "has no entry point DllGetClassInfo"},
#else
      {"libm.so.6", "has no entry point DllGetClassInfo"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string error;
    EXPECT_EQ(Module::load(c.path, &error), nullptr);
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
  EXPECT_EQ(Module::load("/nonexistent/x.so", nullptr), nullptr);
}

#ifndef _WIN32
// The system loader blocked for good on a FIFO given as the module.
TEST_F(ModuleTest, OnlyARegularFileIsLoaded) {
  hx::test::TempDir dir;
  hx::test::Fifo fifo(dir.file("module.so"));
  ASSERT_TRUE(fifo.made());
  for (const std::string& path : {fifo.path(), std::string("/dev/zero"), dir.path()}) {
    SCOPED_TRACE(path);
    std::string error;
    std::unique_ptr<Module> loaded;
    EXPECT_TRUE(fifo.endsWithoutBlocking([&] { loaded = Module::load(path, &error); }));
    EXPECT_EQ(loaded, nullptr);
    EXPECT_EQ(error, "cannot load " + path + ": not a regular file");
  }
}
#endif

}  // namespace
