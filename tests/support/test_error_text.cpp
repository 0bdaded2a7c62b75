// ErrorText: every code's text byte for byte, the fallback, and the names.
#include "support/error_text.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <set>
#include <string>

namespace hx {
namespace {

struct ExpectedText {
  int32_t code;
  const char* text;
};

// Written out independently of the module's table, texts byte for byte.
constexpr ExpectedText kExpected[] = {
    {0, "No error"},
    {-2147024809, "Invalid parameters"},
    {-2147221232, "The object does not support aggregation"},
    {-2147024882, "Not enough memory"},
    {-2005401500, "The specified wave format is not supported"},
    {-2147467259, "An undetermined error occurred inside the DirectSound subsystem"},
    {-2005401480, "No sound driver is available for use"},
    {-2005401430, "Device not initialized"},
    {-2147467263, " The function called is not supported at this time "},
    {-2005401470, "The object is already initialized"},
    {-2005401550, "This function is not valid for the current state of this object"},
    {-2005401590,
     "The request failed because resources, such as a priority level, were already in use by "
     "another caller"},
    {-2005401450, "The buffer memory has been lost and must be restored"},
    {-2005401570, "The control (volume, pan, and so forth) requested by the caller is not available"},
    {-2147467262, "The requested COM interface is not available"},
    {-2005401440,
     "Another application has a higher priority level, preventing this call from succeeding"},
    {-2005401530, "The caller does not have the priority level required for the function to succeed"},
    {23001, "Hardware limitation"},
    {23002, "Not enough memory"},
    {23003, "Not Initialized"},
    {23004, "Samples not ready"},
    {23005, "Unknown Sound Format"},
    {23006, "Unknown Device"},
    {23007, "Unknown Source"},
    {23008, "Incompatible Sound Input"},
};

TEST(ErrorText, EveryKnownCodeGivesItsExactText) {
  for (const ExpectedText& e : kExpected) {
    SCOPED_TRACE(e.code);
    EXPECT_STREQ(ErrorText(e.code), e.text);
  }
}

TEST(ErrorText, TableHoldsEachCodeOnceWithAText) {
  std::set<int32_t> seen;
  for (const ErrorTextEntry& entry : errorTextTable()) {
    SCOPED_TRACE(entry.code);
    EXPECT_TRUE(seen.insert(entry.code).second) << "code appears twice";
    ASSERT_NE(entry.text, nullptr);
    EXPECT_NE(entry.text[0], '\0');
    EXPECT_EQ(ErrorText(entry.code), entry.text);
  }
  std::set<int32_t> expected;
  for (const ExpectedText& e : kExpected) expected.insert(e.code);
  EXPECT_EQ(seen, expected);
}

// The names the module's code uses, in the order of their codes (23001
// upwards, whose texts kExpected gives): two names swapped in the enum
// would report the wrong failure.
constexpr int32_t kNamed[] = {errHardwareLimitation, errNotEnoughMemory,    errNotInitialized,
                              errSamplesNotReady,    errUnknownSoundFormat, errUnknownDevice,
                              errUnknownSource,      errIncompatibleSoundInput};
constexpr bool namesFollowTheirCodes() {
  for (size_t i = 0; i < std::size(kNamed); ++i)
    if (kNamed[i] != 23001 + static_cast<int32_t>(i)) return false;
  return true;
}
static_assert(namesFollowTheirCodes(), "errHardwareLimitation..errIncompatibleSoundInput are 23001..23008");

TEST(ErrorText, UnknownCodesFallBackNeverNull) {
  const int32_t codes[] = {23009,
                           22999,
                           1,
                           -1,
                           -43,
                           -2095,
                           static_cast<int32_t>(0x80070056u),
                           static_cast<int32_t>(0x0007000Eu),
                           std::numeric_limits<int32_t>::min(),
                           std::numeric_limits<int32_t>::max()};
  for (int32_t code : codes) {
    SCOPED_TRACE(code);
    EXPECT_STREQ(ErrorText(code), "Unknown error");
  }
}

// The reader passes QuickTime's 16-bit results through widened with their sign.
TEST(ErrorText, EverySixteenBitPlatformCodeIsUnknownUnlessOurs) {
  for (int32_t code = -32768; code <= 32767; ++code) {
    if (code == 0 || (code >= 23001 && code <= 23008)) continue;
    const char* text = ErrorText(code);
    ASSERT_NE(text, nullptr);
    ASSERT_STREQ(text, "Unknown error") << code;
  }
}

TEST(ErrorText, BlanksAroundNotSupportedTextAreKept) {
  const std::string text = ErrorText(static_cast<int32_t>(0x80004001u));
  EXPECT_EQ(text.front(), ' ');
  EXPECT_EQ(text.back(), ' ');
  EXPECT_NE(text[1], ' ');
  EXPECT_NE(text[text.size() - 2], ' ');
}

}  // namespace
}  // namespace hx
