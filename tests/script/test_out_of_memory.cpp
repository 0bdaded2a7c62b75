// Every call with one allocation made to fail, in turn at each position:
// in the host (a value or list append, a HostAlloc block) and in the
// module's own heap. A call either gives its whole result or the result 0
// with its out-of-memory text; it never passes a shortened list for a whole
// one, never leaks, and leaves the object usable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/working_buffers.h"
#include "audio/qt_file.h"
#include "common/script_session.h"
#include "script/results.h"
#include "script/script_interface.h"
#include "support/error_text.h"
#include "support/module_alloc.h"

namespace hx::test {
namespace {

constexpr char kSamplesOom[] = "error getting samples : Not enough memory";
constexpr char kSpectrumOom[] = "cannot get samples : error Not enough memory";

struct Request {
  const char* name;
  int32_t method;
  std::vector<Arg> args;
  const char* oomText;  // what the method says when its own work runs out
};

// Calls that make lists, floats and integers, on file 1 of 1000 frames.
std::vector<Request> requests() {
  return {
      {"getSamples", kMethodGetSamples, {1, 0, 1000}, kSamplesOom},
      {"getSamples amplMax", kMethodGetSamples, {1, -10, 300, 2.0}, kSamplesOom},
      {"getAmplitude", kMethodGetAmplitude, {1, 0, 1000}, kSamplesOom},
      {"getFFT bins", kMethodGetFFT, {1, 0, 64, 2}, kSpectrumOom},
      {"getFFT octaves normalized", kMethodGetFFT, {1, 0, 128, 1, 1.0, 1, 1}, kSpectrumOom},
      {"getSampleRate", kMethodGetSampleRate, {1}, kNoResultText},
      {"getEqualizedFreqCount", kMethodGetEqualizedFreqCount, {256}, kNoResultText},
  };
}

class OutOfMemory : public FileSession {
 protected:
  void SetUp() override {
    FileSession::SetUp();
    ASSERT_EQ(open(wav("a.wav", periodicSine(1000, 16, 20000))), 1);
  }
  void TearDown() override {
    host.failValueAt(0);
    FailModuleAllocationAt(0);
    FileSession::TearDown();
  }
  Result run(const Request& r) {
    ArgList args(host, std::span<const Arg>(r.args));
    return Result(host, object->call(r.method, args));
  }
  // After a failed call: the result is 0 (or void, when even the 0 could
  // not be made) and the text is the method's own.
  void expectCleanFailure(const Result& r, const char* oomText) {
    EXPECT_TRUE(r.text() == "0" || r.text() == "<void>") << r.text().substr(0, 80);
    const std::string text = lastError();
    EXPECT_TRUE(text == oomText || text == kNoResultText) << text;
  }
};

TEST_F(OutOfMemory, HostValueFailureAtAnyPointEndsTheCallCleanly) {
  for (const Request& r : requests()) {
    SCOPED_TRACE(r.name);
    host.failValueAt(0);
    const std::string whole = run(r).text();
    const int64_t positions = host.valuesSeen();
    ASSERT_GT(positions, 1);
    for (int64_t k = 1; k <= positions; ++k) {
      SCOPED_TRACE("value " + std::to_string(k) + " of " + std::to_string(positions));
      host.failValueAt(k);
      Result got = run(r);
      host.failValueAt(0);
      if (got.text() == whole) continue;  // the failure missed the result (the "no error." text)
      expectCleanFailure(got, r.oomText);
      if (HasFailure()) return;
    }
    EXPECT_EQ(run(r).text(), whole) << "the object works again afterwards";
  }
}

TEST_F(OutOfMemory, ModuleAllocationFailureAtAnyPointEndsTheCallCleanly) {
  if (!linkedModule()) GTEST_SKIP() << "fails the linked module's own allocations";
  for (const Request& r : requests()) {
    SCOPED_TRACE(r.name);
    FailModuleAllocationAt(0);
    const std::string whole = run(r).text();
    const int64_t positions = ModuleAllocationsSeen();
    for (int64_t k = 1; k <= positions; ++k) {
      SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(positions));
      FailModuleAllocationAt(k);
      Result got = run(r);
      FailModuleAllocationAt(0);
      expectCleanFailure(got, r.oomText);
      EXPECT_EQ(lastError(), r.oomText);
      if (HasFailure()) return;
    }
  }
}

// A failed append used to be dropped: the list came back short with "no error.".
TEST_F(OutOfMemory, FailedAppendIsNeverASuccess) {
  const struct {
    const char* name;
    Request request;
    int64_t failAt;  // values before it: "no error.", the list, then value and append pairs
  } cases[] = {
      {"getSamples, 500th append", {"", kMethodGetSamples, {1, 0, 1000}, kSamplesOom}, 2 + 2 * 500},
      {"getSamples, last append", {"", kMethodGetSamples, {1, 0, 1000}, kSamplesOom}, 2 + 2 * 1000},
      {"getSamples, a value", {"", kMethodGetSamples, {1, 0, 1000}, kSamplesOom}, 2 + 1},
      {"getFFT, 10th append", {"", kMethodGetFFT, {1, 0, 64}, kSpectrumOom}, 2 + 2 * 10},
      {"getFFT octaves, last append", {"", kMethodGetFFT, {1, 0, 64, 1, 1.0, 0, 1}, kSpectrumOom}, 2 + 2 * 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t valuesBefore = host.liveValues();
    host.failValueAt(c.failAt);
    Result got = run(c.request);
    host.failValueAt(0);
    EXPECT_EQ(got.text(), "0");
    EXPECT_EQ(lastError(), c.request.oomText);
    EXPECT_EQ(host.liveValues(), valuesBefore + 1) << "the half-built list is released (the 0 remains)";
  }
}

// The cap on a list is checked before either side allocates anything.
TEST_F(OutOfMemory, OversizedListIsRefusedBeforeAnythingIsAllocated) {
  host.failValueAt(0);
  FailModuleAllocationAt(0);
  Result got = call(kMethodGetSamples, {1, 0, kMaxListValues + 1});
  EXPECT_EQ(got.text(), "0");
  EXPECT_LE(host.valuesSeen(), 3) << "\"no error.\", the error text and the 0";
  if (linkedModule()) {
    EXPECT_EQ(ModuleAllocationsSeen(), 0);
  }
  EXPECT_EQ(lastError(), "nbSamples should be at most 4194304");
}

TEST_F(OutOfMemory, OpenWithEachModuleAllocationFailingFilesNothing) {
  if (!linkedModule()) GTEST_SKIP() << "fails the linked module's own allocations";
  const std::string path = wav("b.wav", periodicSine(400, 20, 10000));
  FailModuleAllocationAt(0);
  ASSERT_EQ(open(path), 2);
  const int64_t positions = ModuleAllocationsSeen();
  ASSERT_GE(positions, 4) << "reader, sound buffer, table entry and key at least";
  ASSERT_EQ(call(kMethodCloseFile, {2}).integer(), 1);
  const int32_t next = 3;
  for (int64_t k = 1; k <= positions; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    FailModuleAllocationAt(k);
    const int32_t got = open(path);
    FailModuleAllocationAt(0);
    EXPECT_EQ(got, errNotEnoughMemory);
    EXPECT_EQ(lastError(), "cannot open " + path + " : error Not enough memory");
    EXPECT_EQ(zrQTfile::liveReaders(), 1) << "only file 1's reader is alive";
    EXPECT_EQ(call(kMethodGetSampleRate, {next}).text(), "0") << "no fileID was handed out";
  }
  EXPECT_EQ(open(path), next) << "failed opens consumed no fileID";
}

TEST_F(OutOfMemory, OpenWhoseFileIdCannotBeReturnedKeepsNothing) {
  const std::string path = wav("b.wav", periodicSine(400, 20, 10000));
  const int64_t valuesBefore = host.liveValues();
  host.failValueAt(2);  // after "no error.": the fileID value
  Result got = call(kMethodOpenQuicktimeFile, {path});
  host.failValueAt(0);
  EXPECT_EQ(got.text(), "<void>");
  EXPECT_EQ(lastError(), kNoResultText);
  EXPECT_EQ(host.liveValues(), valuesBefore);
  if (linkedModule()) {
    EXPECT_EQ(zrQTfile::liveReaders(), 1);
  }
  EXPECT_EQ(open(path), 2) << "the fileID the script never saw is not consumed";
}

TEST_F(OutOfMemory, ObjectWithoutAnOpenFileTableRefusesOpens) {
  if (!linkedModule()) GTEST_SKIP() << "fails the linked module's own allocations";
  FailModuleAllocationAt(1);  // the open-file table of the new object
  auto other = newObject();
  FailModuleAllocationAt(0);
  ASSERT_NE(other, nullptr);
  const std::string path = dir.file("a.wav");
  EXPECT_EQ(call(*other, kMethodOpenQuicktimeFile, {path}).text(), "0");
  EXPECT_EQ(lastError(*other), "cannot open " + path + " : error Not enough memory");
  EXPECT_EQ(call(*other, kMethodCloseFile, {1}).text(), "0");
  EXPECT_EQ(lastError(*other), "unknown fileID 1");
  other.reset();
}

// Interface objects and the class info array come from HostAlloc.
TEST_F(OutOfMemory, ObjectCreationWithEachHostAllocFailingLeavesNothing) {
  host.failAllocationAt(0);
  auto probe = newObject();
  ASSERT_NE(probe, nullptr);
  probe.reset();
  const int64_t positions = host.allocationsSeen();
  ASSERT_GE(positions, 1);
  for (int64_t k = 1; k <= positions; ++k) {
    SCOPED_TRACE("HostAlloc " + std::to_string(k));
    host.failAllocationAt(k);
    std::string error;
    auto made = host::ScriptObject::create(host, *module, &error);
    host.failAllocationAt(0);
    EXPECT_EQ(made, nullptr) << "every block is needed to make an object";
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(open(dir.file("a.wav")), 2) << "the first object still works";
}

// Nothing may unwind into the host: a throwing allocation inside a method
// becomes an error text and the result 0.
TEST_F(OutOfMemory, ExceptionInAMethodStaysInTheModule) {
  if (!linkedModule()) GTEST_SKIP() << "makes the linked module's allocations throw";
  const struct {
    const char* name;
    int32_t method;
    std::vector<Arg> args;
  } cases[] = {
      {"getSamples", kMethodGetSamples, {1, 0, 100}},
      {"getFFT", kMethodGetFFT, {1}},
      {"openQuicktimeFile", kMethodOpenQuicktimeFile, {dir.file("a.wav")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FailModuleAllocationAt(1, AllocFailure::kThrow);
    Result got = run({c.name, c.method, c.args, ""});
    FailModuleAllocationAt(0);
    EXPECT_EQ(got.text(), "0");
    EXPECT_EQ(lastError(), "internal error in method " + std::to_string(c.method));
  }
  EXPECT_EQ(open(dir.file("a.wav")), 2);
}

}  // namespace
}  // namespace hx::test
