#include "copy/copy_phase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>

#include "copy/copy_test_fixture.h"
#include "verify/verify_item.h"

namespace qv::test {
namespace {

// A failure that is not an item's own (here: memory) raised on a copy
// thread must leave the phase as an exception, so that the job ends as
// fatal, instead of ending the process.
TEST(CopyPhase, FailureOnAStageThreadLeavesThePhase) {
  // The commit's rename runs outside every per-item catch, on the thread
  // that wrote the staging file.
  for (const bool readAhead : {true, false}) {
    SCOPED_TRACE(readAhead ? "written from memory" : "system copier");
    CopyHarness h;
    h.request.workerCount = 4;
    h.request.optionFlags = kPrePlanned | (readAhead ? kSmallFileReadAhead : 0);
    for (int i = 0; i < 6; ++i) {
      const std::string n = std::to_string(i);
      h.planFile("src/f" + n, "bytes of " + n, "dst/f" + n);
    }
    h.platform.addHook(
        Op::RenameFile, When::Before, [](const std::u16string&) { throw std::bad_alloc(); },
        {h.plan.files[3].destinationPath, 0, 1});
    EXPECT_THROW(runCopyPhase(h.job), std::bad_alloc);
    EXPECT_TRUE(h.job.control.cancelled());
  }
}

// A skipped and a failed file are reported once, by the copy stage; only
// the copied one is verified.
TEST(CopyPhase, OnlyCopiedFilesReachVerification) {
  CopyHarness h;
  h.request.optionFlags = kPrePlanned;
  h.request.verificationMode = kVerifyFullBytes;
  const uint32_t copied = h.planFile("src/a", "aaa", "dst/a");
  const uint32_t skipped = h.planFile("src/b", "bbb", "dst/b");
  const uint32_t failed = h.planFile("src/c", "ccc", "dst/c");
  writeBytes(h.at("dst/b"), "already there");  // the skip policy leaves it alone
  h.platform.failCalls(Op::CopySmallFile, h.diskFull(), {h.plan.files[failed].sourcePath});
  runCopyPhase(h.job);
  std::vector<std::string> items = h.output.items();
  std::sort(items.begin(), items.end());
  std::vector<std::string> expected = {
      h.itemEvent("completed", copied, ""), h.itemEvent("skipped", skipped, ""),
      h.itemEvent("failed", failed, "CopyFile2 failed: " + h.text(h.diskFull()))};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(items, expected);
  EXPECT_EQ(h.counters.verifiedFiles.load(), 1u);
  EXPECT_EQ(readBytes(h.at("dst/b")), "already there");
}

}  // namespace
}  // namespace qv::test
