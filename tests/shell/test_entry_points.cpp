// The exported entry points, the class table and interface objects.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/script_session.h"
#include "hx_entry.h"
#include "hx_ids.h"
#include "script/method_table.h"
#include "script/instance.h"

namespace hx::test {
namespace {

const HxGuid kRegistrationClass = HX_CLSID_REGISTRATION;
const HxGuid kScriptClass = HX_CLSID_SCRIPT;
const HxGuid kRegistrationIid = HX_IID_REGISTRATION;
const HxGuid kScriptIid = HX_IID_SCRIPT;
const HxGuid kClassEntryIid = HX_IID_CLASS_ENTRY;
const HxGuid kZero{};

class EntryPoints : public ScriptSession {};

TEST_F(EntryPoints, ClassInfoHasFourEntriesInOrderAndATerminator) {
  HxClassInfo* info = nullptr;
  ASSERT_EQ(module->entry().getClassInfo(host.allocator(), &info), HX_OK);
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(host.blockSize(info).value_or(0), 5 * sizeof(HxClassInfo));
  const struct {
    HxGuid classId, interfaceId;
    uint32_t interfaceVersion;
  } expected[] = {{kRegistrationClass, kClassEntryIid, 1},
                  {kRegistrationClass, kRegistrationIid, HX_CLASS_VERSION},
                  {kScriptClass, kClassEntryIid, 1},
                  {kScriptClass, kScriptIid, HX_CLASS_VERSION}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(host::sameGuid(info[i].classId, expected[i].classId));
    EXPECT_EQ(info[i].classVersion, HX_CLASS_VERSION);
    EXPECT_TRUE(host::sameGuid(info[i].interfaceId, expected[i].interfaceId));
    EXPECT_EQ(info[i].interfaceVersion, expected[i].interfaceVersion);
  }
  EXPECT_TRUE(host::sameGuid(info[4].classId, kZero));
  EXPECT_TRUE(host::sameGuid(info[4].interfaceId, kZero));
  host.allocator()->vtbl->HostFree(host.allocator(), info);
  EXPECT_EQ(module->classInfo(host).size(), 4u);
}

TEST_F(EntryPoints, ClassInfoOutOfMemory) {
  HxClassInfo* info = reinterpret_cast<HxClassInfo*>(&info);
  host.failNextAllocations(1);
  EXPECT_EQ(module->entry().getClassInfo(host.allocator(), &info), HX_E_OUT_OF_MEMORY);
  EXPECT_EQ(info, nullptr);
}

TEST_F(EntryPoints, ClassFormOfBothClassesAndOfAnUnknownOne) {
  uint32_t size = 0;
  HxCreateFn create = nullptr;
  HxDestroyFn destroy = nullptr;
  ASSERT_EQ(module->entry().getClassForm(&kScriptClass, &size, &create, &destroy), HX_OK);
  EXPECT_EQ(size, sizeof(Instance));
  EXPECT_NE(create, nullptr);
  EXPECT_NE(destroy, nullptr);
  ASSERT_EQ(module->entry().getClassForm(&kRegistrationClass, &size, &create, &destroy), HX_OK);
  EXPECT_EQ(size, sizeof(HxObjectHeader));

  uint32_t untouchedSize = 77;
  auto untouchedCreate = reinterpret_cast<HxCreateFn>(0x1234);
  auto untouchedDestroy = reinterpret_cast<HxDestroyFn>(0x5678);
  const HxGuid unknown{0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  EXPECT_EQ(module->entry().getClassForm(&unknown, &untouchedSize, &untouchedCreate, &untouchedDestroy), HX_E_NO_CLASS);
  EXPECT_EQ(untouchedSize, 77u);
  EXPECT_EQ(untouchedCreate, reinterpret_cast<HxCreateFn>(0x1234));
  EXPECT_EQ(untouchedDestroy, reinterpret_cast<HxDestroyFn>(0x5678));
}

TEST_F(EntryPoints, InterfaceLookupFailuresAllocateNothing) {
  const int64_t blocks = host.liveBlocks();
  void* out = nullptr;
  EXPECT_EQ(module->entry().getInterface(object->instance(), &kScriptClass, &kRegistrationIid, &out), HX_E_NO_INTERFACE);
  const HxGuid unknown{1, 2, 3, {}};
  EXPECT_EQ(module->entry().getInterface(object->instance(), &unknown, &kScriptIid, &out), HX_E_NO_INTERFACE);
  EXPECT_EQ(host.liveBlocks(), blocks);
  EXPECT_EQ(module->entry().getClassObject(&kScriptClass, &kScriptIid, &out), HX_E_NO_CLASS);
}

TEST_F(EntryPoints, CanUnloadOnlyWhenNoInterfaceObjectLives) {
  EXPECT_EQ(module->entry().canUnloadNow(), HX_E_STILL_IN_USE) << "the session's script interface lives";
  void* out = nullptr;
  ASSERT_EQ(module->entry().getInterface(object->instance(), &kRegistrationClass, &kRegistrationIid, &out), HX_OK);
  auto* registration = static_cast<HxRegistration*>(out);
  EXPECT_EQ(module->entry().canUnloadNow(), HX_E_STILL_IN_USE);
  registration->vtbl->Release(registration);
  EXPECT_EQ(module->entry().canUnloadNow(), HX_E_STILL_IN_USE) << "the script interface still lives";
  ASSERT_EQ(module->registerClasses(host), HX_OK);
  object.reset();
  EXPECT_EQ(module->entry().canUnloadNow(), HX_OK);
}

TEST_F(EntryPoints, AddRefTwiceReleaseThriceFreesOnTheThirdAndBalancesTheOwner) {
  const int32_t ownerBefore = object->ownerRefCount();
  const int64_t blocksBefore = host.liveBlocks();
  void* out = nullptr;
  ASSERT_EQ(module->entry().getInterface(object->instance(), &kScriptClass, &kScriptIid, &out), HX_OK);
  auto* script = static_cast<HxScript*>(out);
  EXPECT_EQ(object->ownerRefCount(), ownerBefore + 2);
  EXPECT_EQ(host.liveBlocks(), blocksBefore + 1);
  EXPECT_EQ(script->vtbl->AddRef(script), 2u);
  EXPECT_EQ(script->vtbl->AddRef(script), 3u);
  EXPECT_EQ(script->vtbl->Release(script), 2u);
  EXPECT_EQ(script->vtbl->Release(script), 1u);
  EXPECT_EQ(host.liveBlocks(), blocksBefore + 1);
  EXPECT_EQ(script->vtbl->Release(script), 0u);
  EXPECT_EQ(host.liveBlocks(), blocksBefore);
  EXPECT_EQ(object->ownerRefCount(), ownerBefore);
}

TEST_F(EntryPoints, FactoryOutOfMemory) {
  void* out = &out;
  host.failNextAllocations(1);
  EXPECT_EQ(module->entry().getInterface(object->instance(), &kScriptClass, &kScriptIid, &out), HX_E_OUT_OF_MEMORY);
  EXPECT_EQ(out, nullptr);
}

TEST_F(EntryPoints, QueryInterfaceGoesToTheOwner) {
  auto* owner = static_cast<HxUnknown*>(object->instance());
  HxScript* script = object->script();
  const HxGuid asked[] = {HX_IID_VALUE_INTERFACE, HX_IID_SCRIPT, {9, 9, 9, {9}}};
  for (const HxGuid& iid : asked) {
    void* fromOwner = nullptr;
    void* fromScript = nullptr;
    const HxStatus ownerStatus = owner->vtbl->QueryInterface(owner, &iid, &fromOwner);
    EXPECT_EQ(script->vtbl->QueryInterface(script, &iid, &fromScript), ownerStatus);
    EXPECT_EQ(fromScript != nullptr, fromOwner != nullptr);
    for (void* got : {fromOwner, fromScript}) {
      if (got != nullptr) static_cast<HxUnknown*>(got)->vtbl->Release(static_cast<HxUnknown*>(got));
    }
  }
}

TEST_F(EntryPoints, RegisterStoresTheMethodTableAndTheShockwaveFlag) {
  ASSERT_EQ(module->registerClasses(host), HX_OK);
  auto table = host.registryEntry(kScriptClass, "msgTable");
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->type, HX_REG_TYPE_TEXT);
  EXPECT_EQ(std::string(table->data.begin(), table->data.end()), std::string(kMethodTable));
  auto flag = host.registryEntry(kScriptClass, "safeForShockwave");
  ASSERT_TRUE(flag.has_value());
  EXPECT_EQ(flag->type, HX_REG_TYPE_BOOL);
  EXPECT_EQ(flag->data, std::vector<uint8_t>{1});
}

}  // namespace
}  // namespace hx::test
