#include "copy/commit.h"

#include "copy/copy_test_fixture.h"
#include "copy/staging_cleanup.h"
#include "copy/system_copy.h"
#include "copy/verification_stage.h"

namespace qv::test {
namespace {

// Flips the first byte of `path`, keeping its length.
void corrupt(const std::filesystem::path& path) {
  std::string bytes = readBytes(path);
  bytes[0] = static_cast<char>(bytes[0] ^ 0x55);
  writeBytes(path, bytes);
}

TEST(Commit, FailedRenameKeepsTheDestinationAndRemovesTheStagingFileAtTheEnd) {
  struct Case {
    const char* name;
    bool destinationAppears;  // else the rename itself reports a full disk
  };
  for (const Case& c : {Case{"disk full", false}, Case{"destination appeared", true}}) {
    SCOPED_TRACE(c.name);
    CopyHarness h;
    h.request.retryCount = 0;
    const uint32_t index = h.planFile("src/f", "payload", "dst/f");
    SysError expected = h.diskFull();
    if (c.destinationAppears) {
      h.platform.addHook(Op::RenameFile, When::Before, [&h](const std::u16string&) {
        writeBytes(h.at("dst/f"), "someone else's");
      });
      FileInfo info;
      expected = h.platform.inner().createDirectory(u16(h.dir.path()));  // already exists
    } else {
      h.platform.failCalls(Op::RenameFile, expected);
    }
    copyItem(h.copy, index);
    const std::string message = "Atomic commit failed: " + h.text(expected);
    EXPECT_EQ(h.output.items(), std::vector<std::string>{h.itemEvent("failed", index, message)});
    EXPECT_EQ(h.errors.escapedForEvent(), h.errorLine(index, message));
    EXPECT_EQ(h.counters.copiedFiles.load(), 1u);
    EXPECT_EQ(h.counters.failedFiles.load(), 1u);
    EXPECT_EQ(h.counters.completedFiles.load(), 0u);
    EXPECT_EQ(h.stagingFiles().size(), 1u);  // until the end of the job
    removePartialFiles(h.job);
    EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
    if (c.destinationAppears) {
      EXPECT_EQ(readBytes(h.at("dst/f")), "someone else's");
    } else {
      EXPECT_FALSE(std::filesystem::exists(h.at("dst/f")));
    }
  }
}

TEST(Commit, CancelAfterStagingDiscardsTheCopySilently) {
  CopyHarness h;
  const uint32_t index = h.planFile("src/f", "x", "dst/f");
  h.platform.addHook(Op::CopySmallFile, When::After,
                     [&h](const std::u16string&) { h.control.cancel(); });
  copyItem(h.copy, index);
  EXPECT_EQ(h.output.items(), std::vector<std::string>{});
  EXPECT_EQ(h.counters.copiedFiles.load(), 0u);
  EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
  EXPECT_FALSE(h.plan.files[index].copied);
  EXPECT_FALSE(std::filesystem::exists(h.at("dst/f")));
}

class VerificationStage {
 public:
  // Copies item 0 in verification mode `mode`, corrupting the staged copy
  // of the first `badCopies` copies, then runs the stage on one thread.
  VerificationStage(CopyHarness& h, uint8_t mode, uint32_t badCopies) : h_(h) {
    h.request.verificationMode = mode;
    index_ = h.planFile("src/f", std::string(100000, 'v'), "dst/f");
    const std::filesystem::path staging(
        h.planner.stagingPathFor(h.plan.files[index_], index_));
    CallMatch first;
    first.times = badCopies;
    h.platform.addHook(Op::CopySmallFile, When::After,
                       [staging](const std::u16string&) { corrupt(staging); }, first);
    copyItem(h.copy, index_);
    EXPECT_EQ(h.output.items(), std::vector<std::string>{});  // left to the stage
    EXPECT_EQ(h.counters.copiedFiles.load(), 1u);
    verifyCommitWorker(h.copy, {index_});
  }
  uint32_t index() const { return index_; }

 private:
  CopyHarness& h_;
  uint32_t index_ = 0;
};

TEST(VerificationStage, FailureOnceThenPassOnRecopyCommits) {
  CopyHarness h;
  h.request.retryCount = 1;
  VerificationStage stage(h, 4, 1);
  EXPECT_EQ(h.platform.calls(Op::CopySmallFile), 2u);
  EXPECT_EQ(h.output.items(),
            std::vector<std::string>{h.itemEvent("completed", stage.index(), "")});
  EXPECT_EQ(h.counters.completedFiles.load(), 1u);
  EXPECT_EQ(h.counters.verifiedFiles.load(), 1u);
  EXPECT_EQ(h.counters.verifiedBytes.load(), 100000u);
  EXPECT_EQ(h.counters.copiedBytes.load(), 100000u);
  EXPECT_EQ(h.counters.failedFiles.load() + h.counters.verifyFailedFiles.load(), 0u);
  EXPECT_EQ(h.counters.retryQueue.load(), 0u);
  EXPECT_EQ(h.counters.activeWorkers.load(), 0u);
  EXPECT_EQ(readBytes(h.at("dst/f")), std::string(100000, 'v'));
  EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
}

TEST(VerificationStage, FailureEveryTimeFailsAfterRetryCountRecopies) {
  struct Case {
    uint8_t mode;
    std::string message;
  };
  const std::vector<Case> modes = {{4, "Verification found different file data."},
                                   {2, "CRC32 verification failed."},
                                   {3, "SHA-256 verification failed."}};
  for (const Case& c : modes) {
    for (uint32_t retries : {0u, 1u, 3u}) {
      SCOPED_TRACE(std::to_string(c.mode) + " with retries " + std::to_string(retries));
      CopyHarness h;
      h.request.retryCount = retries;
      VerificationStage stage(h, c.mode, kEveryCall);
      EXPECT_EQ(h.platform.calls(Op::CopySmallFile), retries + 1);
      EXPECT_EQ(h.output.items(),
                std::vector<std::string>{h.itemEvent("failed", stage.index(), c.message)});
      EXPECT_EQ(h.errors.escapedForEvent(), h.errorLine(stage.index(), c.message));
      EXPECT_EQ(h.counters.failedFiles.load(), 1u);
      EXPECT_EQ(h.counters.verifyFailedFiles.load(), 1u);
      EXPECT_EQ(h.counters.verifiedFiles.load(), 1u);
      EXPECT_EQ(h.counters.completedFiles.load(), 0u);
      EXPECT_EQ(h.counters.retryQueue.load(), 0u);
      EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
      EXPECT_FALSE(std::filesystem::exists(h.at("dst/f")));
    }
  }
}

TEST(VerificationStage, FailedRecopyReportsTheCopiersMessage) {
  CopyHarness h;
  h.request.retryCount = 2;
  CallMatch afterFirst;
  afterFirst.skip = 1;
  h.platform.failCalls(Op::CopySmallFile, h.diskFull(), afterFirst);
  VerificationStage stage(h, 4, 1);
  const std::string message = "CopyFile2 failed: " + h.text(h.diskFull());
  EXPECT_EQ(h.platform.calls(Op::CopySmallFile), 3u);
  EXPECT_EQ(h.output.items(),
            std::vector<std::string>{h.itemEvent("failed", stage.index(), message)});
  EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
  EXPECT_FALSE(std::filesystem::exists(h.at("dst/f")));
}

}  // namespace
}  // namespace qv::test
