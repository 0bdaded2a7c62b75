// Layouts a host built by another compiler relies on.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "hx_entry.h"
#include "hx_ids.h"
#include "layout_in_c.h"

namespace {

// A host written in C sees the same layouts as the module's C++.
TEST(AbiLayout, CAndCppAgreeOnEverySizeAndOffset) {
#define HX_LAYOUT_ENTRY(expr) static_cast<uint32_t>(expr),
  const uint32_t inCpp[] = {HX_ABI_LAYOUT(HX_LAYOUT_ENTRY)};
#undef HX_LAYOUT_ENTRY
  const char* names[] = {
#define HX_LAYOUT_NAME(expr) #expr,
      HX_ABI_LAYOUT(HX_LAYOUT_NAME)
#undef HX_LAYOUT_NAME
  };
  ASSERT_EQ(hxLayoutInCCount, std::size(inCpp));
  for (size_t i = 0; i < std::size(inCpp); ++i) {
    EXPECT_EQ(hxLayoutInC[i], inCpp[i]) << names[i];
  }
}

// GUIDs are stored little-endian: known at compile time on every target.
constexpr HxGuid kScriptIid = HX_IID_SCRIPT;
static_assert(std::bit_cast<std::array<unsigned char, 16>>(kScriptIid) ==
                  std::array<unsigned char, 16>{0xB6, 0x1F, 0x40, 0xAC, 0x01, 0x00, 0xB0, 0xF9,
                                                0x00, 0x00, 0x08, 0x00, 0x07, 0x2C, 0x63, 0x26},
              "the script interface's GUID, byte for byte");

}  // namespace
