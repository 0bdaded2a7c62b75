// Paths that are not regular files, handed to openQuicktimeFile: each fails
// at once with its own code, and none is read, blocks or opens something else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/media_ops.h"
#include "common/script_session.h"
#include "script/script_interface.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include "common/fifo.h"

namespace hx::test {
namespace {

class OddPaths : public FileSession {};

TEST_F(OddPaths, EachFailsPromptlyWithItsOwnCode) {
  Fifo fifo(dir.file("fifo.wav"));
  ASSERT_TRUE(fifo.made());
  const std::string loop = dir.file("loop.wav");
  ASSERT_EQ(symlink((loop + "2").c_str(), loop.c_str()), 0);
  ASSERT_EQ(symlink(loop.c_str(), (loop + "2").c_str()), 0);
  const std::string longPath = "/" + std::string(4095, 'a');
  const struct {
    const char* name;
    std::string path;
    int32_t code;
  } cases[] = {
      {"a FIFO", fifo.path(), notAFileErr},
      {"/dev/zero", "/dev/zero", notAFileErr},
      {"/dev/urandom", "/dev/urandom", notAFileErr},
      {"a directory", dir.path(), notAFileErr},
      {"a symlink loop", loop, dirNFErr},
      {"4,096 characters", longPath, bdNamErr},
      {"a line feed", dir.file("a\nb.wav"), fnfErr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t got = 0;
    EXPECT_TRUE(fifo.endsWithoutBlocking([&] { got = open(c.path); }));
    EXPECT_EQ(got, c.code);
    EXPECT_NE(lastError().find("cannot open "), std::string::npos);
  }
  EXPECT_EQ(open(wav("fine.wav", periodicSine(100, 10, 1000))), 1) << "no fileID was used up";
}

// A path is read with room for one byte more than it may hold: a longer
// text used to be cut to 1023 bytes and open whatever file those named.
TEST_F(OddPaths, PathLongerThanTheLimitNeverOpensItsCutPrefix) {
  std::string folder = dir.path();
  while (folder.size() < 800) {
    folder += "/" + std::string(100, 'd');
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  }
  const std::string name = std::string(1023 - folder.size() - 1, 'f');
  const std::string exact = wav(folder.substr(dir.path().size() + 1) + "/" + name,
                                periodicSine(100, 10, 1000));
  ASSERT_EQ(exact.size(), 1023u);
  EXPECT_EQ(open(exact + "x"), bdNamErr);
  EXPECT_EQ(lastError(), "cannot open " + exact.substr(0, 64) +
                             "... : the path is longer than 1023 bytes");
  EXPECT_EQ(open(exact), 1) << "1023 bytes is still a path";
}

}  // namespace
}  // namespace hx::test
#endif
