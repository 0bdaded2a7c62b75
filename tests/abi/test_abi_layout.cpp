// Layouts a host built by another compiler relies on.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "hx_entry.h"
#include "hx_ids.h"

namespace {

TEST(AbiLayout, SizesAndOffsetsHostsRelyOn) {
  EXPECT_EQ(sizeof(HxValue), 8u);
  EXPECT_EQ(sizeof(HxGuid), 16u);
  EXPECT_EQ(sizeof(HxClassInfo), 40u);
  EXPECT_EQ(offsetof(HxCallRecord, result), 4u);
  EXPECT_EQ(offsetof(HxCallRecord, argCount), 12u);
  EXPECT_EQ(offsetof(HxCallRecord, args), 16u);
  // Every interface is a pointer to its table, slots in declaration order.
  EXPECT_EQ(offsetof(HxValueInterfaceVtbl, ValueType), 3 * sizeof(void*));
  EXPECT_EQ(offsetof(HxValueInterfaceVtbl, ValueRelease), 11 * sizeof(void*));
  EXPECT_EQ(offsetof(HxScriptVtbl, Call), 3 * sizeof(void*));
  EXPECT_EQ(offsetof(HxRegistrationVtbl, Register), 3 * sizeof(void*));
}

TEST(AbiLayout, GuidsAreStoredLittleEndian) {
  const HxGuid script = HX_IID_SCRIPT;
  const unsigned char expected[16] = {0xB6, 0x1F, 0x40, 0xAC, 0x01, 0x00, 0xB0, 0xF9,
                                      0x00, 0x00, 0x08, 0x00, 0x07, 0x2C, 0x63, 0x26};
  EXPECT_EQ(std::memcmp(&script, expected, 16), 0);
}

}  // namespace
