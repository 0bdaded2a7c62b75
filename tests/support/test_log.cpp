#include "support/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#ifndef _WIN32
#include "common/fifo.h"
#endif

namespace hx {
namespace {

namespace fs = std::filesystem;

const std::string kStart = "riRuzovEri log start\n";

// Text mode, so line ends read as '\n' on every platform.
std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Each test gets its own folder; the module-wide log is switched off before
// and after so no test inherits another's state.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenLog(nullptr);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           (std::string("hx_log_") + info->name() + "_" + std::to_string(std::random_device{}()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    OpenLog(nullptr);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(LogTest, OpenCreatesFileWithStartLineOnly) {
  const std::string log = path("a.log");
  OpenLog(log.c_str());
  EXPECT_TRUE(LogIsOn());
  EXPECT_EQ(readFile(log), kStart);
}

TEST_F(LogTest, OpenThenStartedLineGivesExactlyTwoLines) {
  const std::string log = path("a.log");
  OpenLog(log.c_str());
  LogLine("Harmidex Log Started");
  EXPECT_EQ(readFile(log), kStart + "Harmidex Log Started\n");
}

TEST_F(LogTest, LinesAreFormattedAndAppendedInOrder) {
  const std::string log = path("a.log");
  OpenLog(log.c_str());
  LogLine("zrQTfile::open");
  LogLine("id %ld of %s at %.2f", 42L, "x.wav", 0.5);
  EXPECT_EQ(readFile(log), kStart + "zrQTfile::open\nid 42 of x.wav at 0.50\n");
}

TEST_F(LogTest, NullOrEmptyPathSwitchesOffAndWritesNothing) {
  const std::string log = path("a.log");
  for (const char* off : {static_cast<const char*>(nullptr), ""}) {
    OpenLog(log.c_str());
    ASSERT_TRUE(LogIsOn());
    OpenLog(off);
    EXPECT_FALSE(LogIsOn());
    LogLine("dropped");
    EXPECT_EQ(readFile(log), kStart);
  }
  // Switching off creates nothing: the folder still holds only a.log.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(LogTest, LinesBeforeAnyOpenGoNowhere) {
  LogLine("nothing");
  EXPECT_FALSE(LogIsOn());
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(LogTest, ForeignFileIsLeftUntouchedAndLoggingOff) {
  const struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"plain text", "my notes\nline two\n"},
      {"start line with more on it", "riRuzovEri log start and more\n"},
      {"start line cut short", "riRuzovEri log star"},
      {"start line in other case", "RIRUZOVERI LOG START\n"},
      {"start line not first", "\nriRuzovEri log start\n"},
      {"start line then carriage return and text", "riRuzovEri log start\rx"},
      {"binary", std::string("\0\x01\xff riRuzovEri", 13)},
      {"single byte", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = path("user.txt");
    writeFile(file, c.content);
    OpenLog(file.c_str());
    EXPECT_FALSE(LogIsOn());
    LogLine("Harmidex Log Started");
    EXPECT_EQ(readFile(file), c.content);
  }
}

TEST_F(LogTest, ForeignFileAfterOwnLogSwitchesTheOldLogOff) {
  const std::string ours = path("a.log");
  const std::string theirs = path("user.txt");
  writeFile(theirs, "keep me\n");
  OpenLog(ours.c_str());
  OpenLog(theirs.c_str());
  LogLine("dropped");
  EXPECT_EQ(readFile(ours), kStart);
  EXPECT_EQ(readFile(theirs), "keep me\n");
}

TEST_F(LogTest, EmptyFileAndOwnOldLogsAreRestarted) {
  const struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"empty file", ""},
      {"our old log", kStart + "Harmidex Log Started\nzrQTfile::open\n"},
      {"our old log with CRLF", "riRuzovEri log start\r\nzrQTfile::open\r\n"},
      {"only our start line", kStart},
      {"start line without line end", "riRuzovEri log start"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string log = path("a.log");
    writeFile(log, c.content);
    OpenLog(log.c_str());
    EXPECT_TRUE(LogIsOn());
    LogLine("Harmidex Log Started");
    EXPECT_EQ(readFile(log), kStart + "Harmidex Log Started\n");
  }
}

// Whatever line end the platform writes, our own log must be recognised.
TEST_F(LogTest, LogWeWroteIsRestartedByTheNextOpen) {
  const std::string log = path("a.log");
  OpenLog(log.c_str());
  LogLine("Harmidex Log Started");
  LogLine("zrQTfile::open");
  OpenLog(nullptr);
  OpenLog(log.c_str());
  EXPECT_TRUE(LogIsOn());
  LogLine("again");
  EXPECT_EQ(readFile(log), kStart + "again\n");
}

TEST_F(LogTest, SecondOpenMovesLinesToTheNewFile) {
  const std::string first = path("a.log");
  const std::string second = path("b.log");
  OpenLog(first.c_str());
  LogLine("one");
  OpenLog(second.c_str());
  LogLine("two");
  EXPECT_EQ(readFile(first), kStart + "one\n");
  EXPECT_EQ(readFile(second), kStart + "two\n");
}

TEST_F(LogTest, MissingFolderKeepsLoggingOnAndDropsLinesUntilItExists) {
  const fs::path folder = dir_ / "later";
  const std::string log = (folder / "a.log").string();
  OpenLog(log.c_str());
  EXPECT_TRUE(LogIsOn());
  LogLine("dropped");
  EXPECT_FALSE(fs::exists(folder));

  fs::create_directory(folder);
  LogLine("kept");
  EXPECT_EQ(readFile(log), "kept\n");
}

TEST_F(LogTest, DirectoryAsPathIsLeftAloneAndLoggingOff) {
  const fs::path folder = dir_ / "sub";
  fs::create_directory(folder);
  writeFile(folder / "inside.txt", "x");
  OpenLog(folder.string().c_str());
  EXPECT_FALSE(LogIsOn());
  LogLine("dropped");
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(readFile(folder / "inside.txt"), "x");
}

TEST_F(LogTest, FileWeCannotReadIsNeverEmptied) {
  const fs::path file = dir_ / "secret.txt";
  writeFile(file, "private\n");
  fs::permissions(file, fs::perms::owner_write);
  if (std::ifstream(file).is_open()) {
    fs::permissions(file, fs::perms::owner_all);
    GTEST_SKIP() << "permissions do not stop reading here (running as root?)";
  }
  OpenLog(file.string().c_str());
  EXPECT_FALSE(LogIsOn());
  LogLine("dropped");
  fs::permissions(file, fs::perms::owner_all);
  EXPECT_EQ(readFile(file), "private\n");
}

TEST_F(LogTest, PathTooLongForTheBufferSwitchesOff) {
  const std::string log = path("a.log");
  OpenLog(log.c_str());
  // Short folder names, so only the whole path is too long for the buffer.
  std::string longPath = dir_.string();
  while (longPath.size() < 1100) longPath += "/folder";
  longPath += "/a.log";
  OpenLog(longPath.c_str());
  EXPECT_FALSE(LogIsOn());
  LogLine("dropped");
  EXPECT_EQ(readFile(log), kStart);
}

TEST_F(LogTest, OverlongLineIsCutToTheLineBuffer) {
  const std::string log = path("a.log");
  OpenLog(log.c_str());
  const std::string big(5000, 'z');
  LogLine("%s", big.c_str());
  LogLine("after");
  EXPECT_EQ(readFile(log), kStart + std::string(1023, 'z') + "\nafter\n");
}

#ifndef _WIN32
// The check that keeps the log from emptying a foreign file used to open
// the path with a blocking read: a FIFO hung `new` for good.
TEST_F(LogTest, FifoAsLogPathNeitherBlocksNorLogs) {
  test::Fifo fifo(path("fifo"));
  ASSERT_TRUE(fifo.made());
  EXPECT_TRUE(fifo.endsWithoutBlocking([&] { OpenLog(fifo.path().c_str()); }));
  EXPECT_FALSE(LogIsOn());
}

TEST_F(LogTest, LogReplacedByAFifoDropsLinesWithoutBlocking) {
  const std::string log = path("log.txt");
  OpenLog(log.c_str());
  ASSERT_TRUE(LogIsOn());
  fs::remove(log);
  test::Fifo fifo(log);
  ASSERT_TRUE(fifo.made());
  EXPECT_TRUE(fifo.endsWithoutBlocking([] { LogLine("zrQTfile::open"); }));
}

TEST_F(LogTest, DeviceAsLogPathIsLeftAloneAndLoggingOff) {
  OpenLog("/dev/zero");
  EXPECT_FALSE(LogIsOn());
}
#endif

}  // namespace
}  // namespace hx
