// A media test that needs ffmpeg for its fixtures and ends with the sound
// handles, readers and movies it began with: none left behind.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "audio/qt_file.h"
#include "common/media_files.h"
#include "media/ffmpeg_backend.h"
#include "media/memory_handle.h"

namespace hx::test {

class MediaLeakTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() { ASSERT_TRUE(haveFfmpeg()) << "ffmpeg is needed"; }

 protected:
  void SetUp() override {
    handles = media::liveHandles();
    readers = zrQTfile::liveReaders();
  }
  void TearDown() override {
    EXPECT_EQ(media::liveHandles(), handles);
    EXPECT_EQ(zrQTfile::liveReaders(), readers);
    EXPECT_EQ(media::liveMovies(), 0);
  }

  int64_t handles = 0;
  int64_t readers = 0;
};

}  // namespace hx::test
