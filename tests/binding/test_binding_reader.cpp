// The file reader over the binding and our test runtime, as the module
// runs on Windows: files encoded by sox open with their rate, frame count
// and samples (AIFF arrives big-endian, so it takes the byte swap), and a
// failing runtime operation ends the open the way the reader says.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/qt_binding.h"
#include "audio/qt_file.h"
#include "binding_media.h"
#include "injected_failure.h"
#include "support/error_text.h"

namespace hx {
namespace {

using binding_test::MediaFile;

using binding_test::InjectedFailure;
using binding_test::kInjected;

std::vector<int16_t> readAll(zrQTfile& reader, SoundFormat format, int32_t start, int32_t count) {
  std::vector<int16_t> out(size_t(count) * size_t(format.channels), int16_t(0x5A5A));
  EXPECT_EQ(reader.readFrames(out.data(), format, start, count), 0);
  return out;
}

TEST(BindingReader, OpensGeneratedFilesWithRateFramesAndSamples) {
  for (const MediaFile& f : binding_test::requireMediaFiles()) {
    SCOPED_TRACE(f.name);
    zrQTfile reader(qt::quickTimeMediaOps());
    ASSERT_EQ(reader.open(f.path.c_str()), 0);
    EXPECT_EQ(reader.getSampleRate(), double(f.rate));
    EXPECT_EQ(reader.format.channels, f.channels);
    EXPECT_EQ(reader.format.bytesPerSample, 2) << "8-bit files arrive widened to 16 bits";

    // Four frames past the end read as zeros, so the frame count is exact.
    const SoundFormat own = f.channels == 2 ? kFormatStereo16 : kFormatMono16;
    const int32_t frames = int32_t(f.frames());
    std::vector<int16_t> expected = f.samples;
    expected.resize(expected.size() + 4 * size_t(f.channels), 0);
    EXPECT_EQ(readAll(reader, own, 0, frames + 4), expected);

    if (f.channels == 2) {
      std::vector<int16_t> mixed;
      for (size_t i = 0; i + 1 < f.samples.size(); i += 2)
        mixed.push_back(int16_t(f.samples[i] / 2 + f.samples[i + 1] / 2));
      EXPECT_EQ(readAll(reader, kFormatMono16, 0, frames), mixed);
    }
  }
}

TEST(BindingReader, FilesTheRuntimeCannotOpenReportItsCode) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "hx_binding_reader";
  std::filesystem::create_directories(dir);
  const std::string text = (dir / "notes.txt").string();
  std::ofstream(text) << "not a sound";
  struct Case {
    const char* name;
    std::string path;
    int32_t result;
  };
  const Case cases[] = {
      {"Missing", (dir / "missing.wav").string(), fnfErr},
      {"NotAudio", text, invalidMovie},
      {"Folder", dir.string(), notAFileErr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zrQTfile reader(qt::quickTimeMediaOps());
    EXPECT_EQ(reader.open(c.path.c_str()), c.result);
    EXPECT_FALSE(reader.isOpen());
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

// Each runtime operation failing in turn, seen through a whole open.
TEST(BindingReader, FailingRuntimeOperationEndsTheOpenAsTheReaderSays) {
  const std::vector<MediaFile> files = binding_test::requireMediaFiles();
  ASSERT_FALSE(files.empty());
  const MediaFile& f = files.front();
  struct Case {
    const char* name;
    uint32_t selector;
    int32_t result;
    bool holdsBuffer;
  };
  const Case cases[] = {
      {"NativePathNameToFSSpec", qt::kSelNativePathNameToFSSpec, kInjected, false},
      {"OpenMovieFile", qt::kSelOpenMovieFile, kInjected, false},
      {"NewMovieFromFile", qt::kSelNewMovieFromFile, kInjected, false},
      {"CloseMovieFileIgnored", qt::kSelCloseMovieFile, 0, true},
      {"NoTrackFound", qt::kSelGetMovieIndTrackType, invalidTrack, false},
      {"NewHandle", qt::kSelNewHandle, errNotEnoughMemory, false},
      {"PrepareMovieIgnored", qt::kSelPrepareMovie, 0, true},
      {"PutMovieIntoTypedHandle", qt::kSelPutMovieIntoTypedHandle, kInjected, false},
      {"ParseSndHeader", qt::kSelParseSndHeader, kInjected, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zrQTfile reader(qt::quickTimeMediaOps());
    {
      InjectedFailure failure(c.selector);
      EXPECT_EQ(reader.open(f.path.c_str()), c.result);
    }
    EXPECT_EQ(reader.isOpen(), c.holdsBuffer);
    if (c.result == 0) {
      EXPECT_EQ(reader.getSampleRate(), double(f.rate));
    }
  }
}

}  // namespace
}  // namespace hx
