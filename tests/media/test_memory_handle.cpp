// Relocatable memory blocks as the reader and the backend use them.
#include <gtest/gtest.h>

#include <cstring>

#include "media/memory_handle.h"

namespace hx::media {
namespace {

TEST(MemoryHandle, EmptyHandleGrowsKeepingItsBytes) {
  const int64_t before = liveHandles();
  Handle h = newHandle(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(liveHandles(), before + 1);
  EXPECT_EQ(getHandleSize(h), 0u);
  ASSERT_TRUE(setHandleSize(h, 3));
  std::memcpy(*h, "abc", 3);
  for (uint32_t size = 4; size < 100000; size = size * 3 + 1) {
    ASSERT_TRUE(setHandleSize(h, size));
    ASSERT_EQ(getHandleSize(h), size);
    ASSERT_EQ(std::memcmp(*h, "abc", 3), 0);
  }
  disposeHandle(h);
  EXPECT_EQ(liveHandles(), before);
}

// Both ways of reserving, the plain one and the one that maps the pages to
// be filled: the bytes there stay, and the block stays where it is while
// it grows into the room.
TEST(MemoryHandle, ReservedRoomKeepsTheBlockInPlace) {
  for (auto reserve : {reserveHandle, reserveHandleToFill}) {
    Handle h = newHandle(16);
    ASSERT_NE(h, nullptr);
    std::memset(*h, 7, 16);
    ASSERT_TRUE(reserve(h, 8 << 20));
    EXPECT_EQ(getHandleSize(h), 16u);
    char* const at = *h;
    ASSERT_TRUE(setHandleSize(h, 8 << 20));
    EXPECT_EQ(*h, at);
    EXPECT_EQ((*h)[15], 7);
    ASSERT_TRUE(setHandleSize(h, 10));
    compactHandle(h);
    EXPECT_EQ(getHandleSize(h), 10u);
    EXPECT_EQ((*h)[9], 7);
    disposeHandle(h);
  }
}

TEST(MemoryHandle, LockedBlockCannotMove) {
  Handle h = newHandle(8);
  ASSERT_NE(h, nullptr);
  lockHandle(h);
  lockHandle(h);  // twice: no further effect
  EXPECT_TRUE(isLocked(h));
  EXPECT_FALSE(setHandleSize(h, 4096));
  EXPECT_FALSE(reserveHandle(h, 4096));
  EXPECT_FALSE(reserveHandleToFill(h, 4096));
  EXPECT_EQ(getHandleSize(h), 8u);
  disposeHandle(h);
}

TEST(MemoryHandle, BadArgumentsAreRefusedNotCrashed) {
  const int64_t before = liveHandles();
  EXPECT_EQ(newHandle(-1), nullptr);
  EXPECT_FALSE(setHandleSize(nullptr, 1));
  EXPECT_FALSE(reserveHandle(nullptr, 1));
  EXPECT_FALSE(reserveHandleToFill(nullptr, 1));
  EXPECT_EQ(getHandleSize(nullptr), 0u);
  EXPECT_FALSE(isLocked(nullptr));
  lockHandle(nullptr);
  compactHandle(nullptr);
  disposeHandle(nullptr);
  EXPECT_EQ(liveHandles(), before);
}

}  // namespace
}  // namespace hx::media
