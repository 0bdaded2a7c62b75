// Opening and closing files, fileIDs, sample rate, and the object's life.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "audio/qt_file.h"
#include "common/script_session.h"
#include "script/script_interface.h"
#include "script/instance.h"
#include "support/log.h"

namespace hx::test {
namespace {

class FileMethods : public FileSession {
 protected:
  void SetUp() override {
    FileSession::SetUp();
    a = wav("a.wav", periodicSine(1000, 16, 8000));
    b = wav("b.wav", periodicSine(500, 32, 8000), 22050);
  }
  Instance* instance() { return static_cast<Instance*>(object->instance()); }

  std::string a, b;
};

std::vector<std::string> linesOf(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(FileMethods, FileIdsGrowAndAreNeverReused) {
  EXPECT_EQ(open(a), 1);
  EXPECT_EQ(open(b), 2);
  EXPECT_EQ(call(kMethodCloseFile, {1}).integer(), 1);
  EXPECT_EQ(lastError(), "no error.");
  const std::string missing = dir.file("missing.wav");
  const int32_t failed = open(missing);
  EXPECT_NE(failed, 0) << "a failed open answers its error code";
  EXPECT_EQ(lastError(), "cannot open " + missing + " : error Unknown error");
  EXPECT_EQ(open(a), 3) << "the failed open consumed no fileID, and 1 is not reused";
  EXPECT_EQ(call(kMethodGetSampleRate, {2}).number(), 22050.0);
  EXPECT_EQ(call(kMethodGetSampleRate, {3}).number(), 44100.0);
  EXPECT_EQ(call(kMethodGetSampleRate, {1}).text(), "0");
  EXPECT_EQ(lastError(), "unknown fileID 1");
}

TEST_F(FileMethods, SampleRateIsAFloatEvenWhenWhole) {
  ASSERT_EQ(open(a), 1);
  Result rate = call(kMethodGetSampleRate, {1});
  EXPECT_EQ(rate.type(), HX_TYPE_FLOAT);
  EXPECT_EQ(rate.number(), 44100.0);
}

TEST_F(FileMethods, ClosingTwiceOrAnUnknownIdFails) {
  ASSERT_EQ(open(a), 1);
  EXPECT_EQ(call(kMethodCloseFile, {1}).integer(), 1);
  EXPECT_EQ(call(kMethodCloseFile, {1}).text(), "0");
  EXPECT_EQ(lastError(), "unknown fileID 1");
  EXPECT_EQ(call(kMethodCloseFile, {42}).text(), "0");
  EXPECT_EQ(lastError(), "unknown fileID 42");
  EXPECT_EQ(call(kMethodCloseFile, {-7}).text(), "0");
  EXPECT_EQ(lastError(), "unknown fileID -7");
}

TEST_F(FileMethods, CloseWithAFloatTruncates) {
  ASSERT_EQ(open(a), 1);
  ASSERT_EQ(open(b), 2);
  EXPECT_EQ(call(kMethodCloseFile, {2.7}).integer(), 1);
  EXPECT_EQ(call(kMethodGetSampleRate, {2}).text(), "0");
  EXPECT_EQ(call(kMethodGetSampleRate, {1}).number(), 44100.0);
}

TEST_F(FileMethods, ArgumentErrorsOpenAndCloseNothing) {
  ASSERT_EQ(open(a), 1);
  EXPECT_EQ(call(kMethodOpenQuicktimeFile, {}).text(), "0");
  EXPECT_EQ(call(kMethodCloseFile, {}).text(), "0");
  EXPECT_EQ(lastError(), "fileID is VOID");
  if (linkedModule()) {
    EXPECT_EQ(zrQTfile::liveReaders(), 1);
  }
  EXPECT_EQ(open(b), 2);
}

TEST_F(FileMethods, DestroyingTheObjectClosesEveryReader) {
  if (!linkedModule()) GTEST_SKIP() << "counts the module's own readers";
  ASSERT_EQ(open(a), 1);
  ASSERT_EQ(open(b), 2);
  ASSERT_EQ(open(a), 3);
  EXPECT_EQ(zrQTfile::liveReaders(), 3);
  object.reset();
  EXPECT_EQ(zrQTfile::liveReaders(), 0);
}

TEST_F(FileMethods, EveryObjectStartsAtFileIdOne) {
  auto second = newObject();
  EXPECT_EQ(open(a), 1);
  EXPECT_EQ(call(*second, kMethodOpenQuicktimeFile, {b}).integer(), 1);
  EXPECT_EQ(call(*second, kMethodGetSampleRate, {1}).number(), 22050.0);
  EXPECT_EQ(call(kMethodGetSampleRate, {1}).number(), 44100.0);
}

TEST_F(FileMethods, ExhaustedFileIdCounterOpensNothing) {
  instance()->nextFileId = INT32_MAX;
  EXPECT_EQ(call(kMethodOpenQuicktimeFile, {a}).text(), "0");
  EXPECT_EQ(lastError(), "cannot open " + a + " : no fileID left for this object");
  if (linkedModule()) {
    EXPECT_EQ(zrQTfile::liveReaders(), 0);
  }
  EXPECT_EQ(instance()->nextFileId, INT32_MAX);
}

TEST_F(FileMethods, MissingOpenFileTableIsReportedNotDereferenced) {
  RefMap* table = instance()->openFiles;
  instance()->openFiles = nullptr;
  EXPECT_EQ(call(kMethodOpenQuicktimeFile, {a}).text(), "0");
  EXPECT_EQ(lastError(), "cannot open " + a + " : error Not enough memory");
  EXPECT_EQ(call(kMethodGetSampleRate, {1}).text(), "0");
  EXPECT_EQ(lastError(), "unknown fileID 1");
  EXPECT_EQ(call(kMethodGetFFT, {1}).text(), "0");
  EXPECT_EQ(call(kMethodCloseFile, {1}).text(), "0");
  if (linkedModule()) {
    EXPECT_EQ(zrQTfile::liveReaders(), 0);
  }
  instance()->openFiles = table;
}

TEST_F(FileMethods, NewWithAPathStartsTheLog) {
  const std::string log = dir.file("harmidex.log");
  EXPECT_EQ(call(kMethodNew, {log}).type(), HX_TYPE_VOID);
  EXPECT_EQ(lastError(), "");
  EXPECT_EQ(linesOf(log), (std::vector<std::string>{"riRuzovEri log start", "Harmidex Log Started"}));
  ASSERT_EQ(open(a), 1);
  EXPECT_EQ(linesOf(log).size(), 3u);
  EXPECT_EQ(linesOf(log).back(), "zrQTfile::open");
  // Any new object switches the module's log off, for every object.
  auto second = newObject();
  ASSERT_EQ(open(b), 2);
  EXPECT_EQ(linesOf(log).size(), 3u);
}

TEST_F(FileMethods, NewWithAnEmptyPathStartsNoLog) {
  call(kMethodNew, {std::string()});
  if (linkedModule()) {
    EXPECT_FALSE(LogIsOn());
  }
  EXPECT_EQ(lastError(), "");
}

}  // namespace
}  // namespace hx::test
