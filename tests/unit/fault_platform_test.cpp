// The two faults the disk-full hardening script falls back to when it may
// not mount a small file system. The other faults are exercised by the
// failure-path tests that use them.
#include "support/fault_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/worker_run.h"

namespace qv::test {
namespace {

class FaultPlatformTest : public ::testing::Test {
 protected:
  std::u16string path(const std::string& name) const {
    return (dir_.path() / name).u16string();
  }

  ScratchDir dir_;
  FaultPlatform fault_{systemPlatform()};
};

TEST_F(FaultPlatformTest, NthWriteFailsWithDiskFullAcrossFiles) {
  fault_.failNthWrite(3);
  std::unique_ptr<WritableFile> a;
  std::unique_ptr<WritableFile> b;
  ASSERT_EQ(fault_.createStagingFile(path("a"), a), 0u);
  ASSERT_EQ(fault_.createStagingFile(path("b"), b), 0u);
  size_t written = 99;
  EXPECT_EQ(a->write("1", 1, written), 0u);
  EXPECT_EQ(b->write("2", 1, written), 0u);
  EXPECT_EQ(a->write("3", 1, written), fault_.diskFullError());
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(a->write("4", 1, written), 0u);
  EXPECT_EQ(a->close(), 0u);
  EXPECT_EQ(b->close(), 0u);
  EXPECT_EQ(readBytes(dir_.path() / "a"), "14");
}

TEST_F(FaultPlatformTest, LargeCopyFailsAfterSomeProgress) {
  writeBytes(dir_.path() / "source", std::string(size_t{17} << 20, 'q'));
  fault_.failLargeCopyAfter(1, 4321);
  std::vector<uint64_t> seen;
  const SysError err = fault_.copyLargeFile(
      path("source"), path("target"), ExistingTarget::Fail, [&](uint64_t total) {
        seen.push_back(total);
        return CopyProgress::Continue;
      });
  EXPECT_EQ(err, 4321u);
  // Wine's copier reports no progress: the copy then runs to its end and
  // fails all the same.
  if (!seen.empty()) {
    EXPECT_GT(seen.back(), 0u);
    EXPECT_LT(seen.back(), uint64_t{17} << 20);
  }
}

}  // namespace
}  // namespace qv::test
