// The host allocator and the class registry a module writes into.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/host_fixture.h"
#include "hx_ids.h"

namespace {

using hx::host::guidText;
using hx::host::sameGuid;
using hx::test::HostTest;

class AllocatorTest : public HostTest {
 protected:
  void* alloc(uint32_t size) { return a()->vtbl->HostAlloc(a(), size); }
  void free(void* block) { a()->vtbl->HostFree(a(), block); }
  HxAllocator* a() { return host.allocator(); }
};

TEST_F(AllocatorTest, BlocksAreCountedUntilFreed) {
  void* small = alloc(40);
  void* empty = alloc(0);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_NE(small, empty);
  EXPECT_EQ(host.liveBlocks(), 2);
  EXPECT_EQ(host.blockSize(small), 40u);
  EXPECT_EQ(host.blockSize(empty), 0u);
  std::memset(small, 0, 40);  // the whole block is usable
  free(small);
  EXPECT_EQ(host.liveBlocks(), 1);
  EXPECT_FALSE(host.blockSize(small).has_value());
  free(empty);
  EXPECT_EQ(host.liveBlocks(), 0);
}

TEST_F(AllocatorTest, FailNextAllocationsFailsExactlyThatMany) {
  host.failNextAllocations(2);
  EXPECT_EQ(alloc(8), nullptr);
  EXPECT_EQ(alloc(8), nullptr);
  void* block = alloc(8);
  EXPECT_NE(block, nullptr);
  EXPECT_EQ(host.liveBlocks(), 1);
  free(block);
}

TEST_F(AllocatorTest, HugeRequestGivesNullNotACrash) {
  EXPECT_EQ(alloc(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(host.liveBlocks(), 0);
}

TEST_F(AllocatorTest, FreeingNullIsIgnored) {
  free(nullptr);
  EXPECT_EQ(host.protocolErrors(), 0);
}

TEST_F(AllocatorTest, FreeingAnUnknownOrFreedBlockIsCountedAndIgnored) {
  int onStack = 0;
  void* block = alloc(16);
  void* other = alloc(16);
  free(block);
  free(block);     // twice
  free(&onStack);  // never ours
  EXPECT_EQ(host.liveBlocks(), 1);
  EXPECT_EQ(host.blockSize(other), 16u);
  expectProtocolErrors(2);
  free(other);
}

class RegistryTest : public HostTest {
 protected:
  static constexpr HxGuid kClass = {0x11111111u, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
  static constexpr HxGuid kOtherClass = {0x11111111u, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
  static constexpr HxGuid kIid = HX_IID_SCRIPT;
  static constexpr HxGuid kOtherIid = HX_IID_REGISTRATION;

  HxDict* entry(const HxGuid& classId, const HxGuid& iid) {
    HxRegistryCache* cache = host.registryCache();
    HxDict* dict = nullptr;
    EXPECT_EQ(cache->vtbl->AddRegistryEntry(cache, host.newEntryDict(), &classId, &iid, &dict),
              HX_OK);
    return dict;
  }
  static HxStatus put(HxDict* dict, int32_t type, const void* data, int32_t size, const char* key) {
    return dict->vtbl->RegistryPut(dict, type, data, size, key);
  }
  static std::string text(const hx::host::RegistryEntry& e) {
    return std::string(e.data.begin(), e.data.end());
  }
};

TEST_F(RegistryTest, TextAndOneByteFlagReadBackAsStored) {
  HxDict* dict = entry(kClass, kIid);
  ASSERT_NE(dict, nullptr);
  const char table[] = "line one\nline two \n";
  const uint8_t flag = 1;
  EXPECT_EQ(put(dict, HX_REG_TYPE_TEXT, table, 0, "msgTable"), HX_OK);
  EXPECT_EQ(put(dict, HX_REG_TYPE_BOOL, &flag, 1, "safeForShockwave"), HX_OK);

  auto msg = host.registryEntry(kClass, "msgTable");
  ASSERT_TRUE(msg.has_value());
  EXPECT_EQ(msg->type, HX_REG_TYPE_TEXT);
  EXPECT_EQ(text(*msg), table);
  auto safe = host.registryEntry(kClass, "safeForShockwave");
  ASSERT_TRUE(safe.has_value());
  EXPECT_EQ(safe->type, HX_REG_TYPE_BOOL);
  EXPECT_EQ(safe->data, std::vector<uint8_t>{1});
}

TEST_F(RegistryTest, TextWithSizeZeroStopsAtItsTerminator) {
  HxDict* dict = entry(kClass, kIid);
  const char data[] = "abc\0def";
  EXPECT_EQ(put(dict, HX_REG_TYPE_TEXT, data, 0, "t"), HX_OK);
  EXPECT_EQ(text(*host.registryEntry(kClass, "t")), "abc");
}

TEST_F(RegistryTest, FlagWithSizeOneStoresOnlyOneByte) {
  HxDict* dict = entry(kClass, kIid);
  const uint8_t data[] = {7, 8, 9};
  EXPECT_EQ(put(dict, HX_REG_TYPE_BOOL, data, 1, "f"), HX_OK);
  EXPECT_EQ(host.registryEntry(kClass, "f")->data, std::vector<uint8_t>{7});
}

TEST_F(RegistryTest, SamePairGivesTheSameDictionaryAndAnotherPairAnother) {
  HxDict* first = entry(kClass, kIid);
  EXPECT_EQ(entry(kClass, kIid), first);
  EXPECT_NE(entry(kClass, kOtherIid), first);
  EXPECT_NE(entry(kOtherClass, kIid), first);
}

TEST_F(RegistryTest, LaterPutReplacesTheEntry) {
  HxDict* dict = entry(kClass, kIid);
  put(dict, HX_REG_TYPE_TEXT, "old", 0, "k");
  put(dict, HX_REG_TYPE_TEXT, "new", 0, "k");
  EXPECT_EQ(text(*host.registryEntry(kClass, "k")), "new");
}

TEST_F(RegistryTest, EntriesAreFiledUnderTheirOwnClass) {
  put(entry(kClass, kIid), HX_REG_TYPE_TEXT, "x", 0, "k");
  EXPECT_FALSE(host.registryEntry(kOtherClass, "k").has_value());
  EXPECT_FALSE(host.registryEntry(kClass, "other").has_value());
  // The entry dictionary handed to Register is not the class's record.
  HxDict* given = host.newEntryDict();
  put(given, HX_REG_TYPE_TEXT, "y", 0, "j");
  EXPECT_FALSE(host.registryEntry(kClass, "j").has_value());
}

TEST_F(RegistryTest, BadArgumentsAreRefusedAndCounted) {
  HxDict* dict = entry(kClass, kIid);
  HxRegistryCache* cache = host.registryCache();
  HxDict* out = nullptr;
  const uint8_t one = 1;
  EXPECT_EQ(put(dict, HX_REG_TYPE_TEXT, "x", 0, nullptr), HX_E_INVALID_ARG);
  EXPECT_EQ(put(dict, HX_REG_TYPE_TEXT, nullptr, 0, "k"), HX_E_INVALID_ARG);
  EXPECT_EQ(put(dict, HX_REG_TYPE_BOOL, &one, -1, "k"), HX_E_INVALID_ARG);
  EXPECT_EQ(cache->vtbl->AddRegistryEntry(cache, nullptr, &kClass, nullptr, &out),
            HX_E_INVALID_ARG);
  EXPECT_EQ(cache->vtbl->AddRegistryEntry(cache, dict, &kClass, &kIid, &out), HX_E_INVALID_ARG)
      << "a class record is not an entry dictionary";
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(host.registryEntry(kClass, "k").has_value());
  expectProtocolErrors(5);
}

TEST(GuidTest, TextIsBracedUpperCaseHex) {
  const HxGuid script = HX_IID_SCRIPT;
  const HxGuid values = HX_IID_VALUE_INTERFACE;
  EXPECT_EQ(guidText(script), "{AC401FB6-0001-F9B0-0000-0800072C6326}");
  EXPECT_EQ(guidText(values), "{151A5780-32BD-11D0-8151-00AA005F3C08}");
  EXPECT_EQ(guidText(HxGuid{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(GuidTest, SameGuidComparesEveryByte) {
  const HxGuid a = HX_IID_SCRIPT;
  EXPECT_TRUE(sameGuid(a, a));
  for (size_t i = 0; i < sizeof(HxGuid); ++i) {
    HxGuid b = a;
    reinterpret_cast<uint8_t*>(&b)[i] ^= 0x01;
    EXPECT_FALSE(sameGuid(a, b)) << "byte " << i;
  }
}

}  // namespace
