#include "common/host_fixture.h"

namespace hx::test {

std::string HostTest::errorLog() const {
  std::string text;
  for (const std::string& line : host.protocolErrorLog()) text += "\n  " + line;
  return text;
}

void HostTest::TearDown() {
  EXPECT_EQ(host.liveValues(), 0) << "host values not released";
  EXPECT_EQ(host.liveBlocks(), 0) << "allocator blocks not freed";
  EXPECT_EQ(host.interfaceReferences(), 0) << "host interface references not released";
  EXPECT_EQ(host.protocolErrors(), expectedProtocolErrors_) << "protocol errors:" << errorLog();
}

}  // namespace hx::test
