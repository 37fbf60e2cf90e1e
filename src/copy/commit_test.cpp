#include "copy/commit.h"

#include "copy/copy_test_fixture.h"
#include "copy/staging_cleanup.h"
#include "copy/system_copy.h"
#include "copy/verification_stage.h"
#include "verify/verify_item.h"

namespace qv::test {
namespace {

TEST(Commit, FailedRenameKeepsTheDestinationAndRemovesTheStagingFileAtTheEnd) {
  for (const bool destinationAppears : {false, true}) {  // else the rename reports a full disk
    SCOPED_TRACE(destinationAppears ? "destination appeared" : "disk full");
    CopyHarness h;
    const uint32_t index = h.planFile("src/f", "payload", "dst/f");
    SysError expected = h.diskFull();
    if (destinationAppears) {
      h.platform.addHook(Op::RenameFile, When::Before, [&h](const std::u16string&) {
        writeBytes(h.at("dst/f"), "someone else's");
      });
      expected = h.platform.inner().createDirectory(u16(h.dir.path()));  // already exists
    } else {
      h.platform.failCalls(Op::RenameFile, expected);
    }
    copyItem(h.copy, index);
    const std::string message = "Atomic commit failed: " + h.text(expected);
    EXPECT_EQ(h.output.items(), std::vector<std::string>{h.itemEvent("failed", index, message)});
    EXPECT_EQ(h.errors.escapedForEvent(), h.errorLine(index, message));
    EXPECT_EQ(h.tally(), "attempts 1, copied 1, completed 0, failed 1");
    EXPECT_EQ(h.stagingFiles().size(), 1u);  // until the end of the job
    removePartialFiles(h.job);
    EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
    EXPECT_EQ(std::filesystem::exists(h.at("dst/f")), destinationAppears);
  }
}

TEST(Commit, CancelAfterStagingDiscardsTheCopySilently) {
  CopyHarness h;
  const uint32_t index = h.planFile("src/f", "x", "dst/f");
  h.platform.addHook(Op::CopySmallFile, When::After,
                     [&h](const std::u16string&) { h.control.cancel(); });
  copyItem(h.copy, index);
  EXPECT_EQ(h.output.items(), std::vector<std::string>{});
  EXPECT_EQ(h.counters.copiedFiles.load() + h.counters.failedFiles.load(), 0u);
  EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
  EXPECT_FALSE(h.plan.files[index].copied || std::filesystem::exists(h.at("dst/f")));
}

// Copies in verification mode `mode` with `retries`, the staged copy of the
// first `badCopies` copies corrupted (its first byte flipped), then runs the
// verification stage on one thread. A failing check copies again.
TEST(VerificationStage, RecopiesUpToRetryCountThenCommitsOrFails) {
  const auto corrupted = [](uint8_t mode, uint32_t retries, uint32_t badCopies) {
    return [=](CopyHarness& h) {
      h.request.verificationMode = mode;
      h.request.retryCount = retries;
      const std::filesystem::path staging(h.planner.stagingPathFor(h.plan.files[0], 0));
      h.platform.addHook(
          Op::CopySmallFile, When::After,
          [staging](const std::u16string&) {
            std::string bytes = readBytes(staging);
            bytes[0] = static_cast<char>(bytes[0] ^ 0x55);
            writeBytes(staging, bytes);
          },
          {{}, 0, badCopies});
      return SysError{0};
    };
  };
  const std::string failedTally =
      "copied 1, completed 0, failed 1, verified 1, verify failed 1, verified bytes 100000";
  expectItemCases(
      {
          {"bad once, good on the recopy", corrupted(kVerifyFullBytes, 1, 1), "",
           "attempts 2, copied 1, completed 1, failed 0, verified 1, verified bytes 100000",
           100000},
          {"bytes differ every time", corrupted(kVerifyFullBytes, 0, kEveryCall),
           "Verification found different file data.", "attempts 1, " + failedTally,
           100000},
          {"CRC32 differs every time", corrupted(kVerifyCrc32, 1, kEveryCall),
           "CRC32 verification failed.", "attempts 2, " + failedTally, 100000},
          {"SHA-256 differs every time", corrupted(kVerifySha256, 3, kEveryCall),
           "SHA-256 verification failed.", "attempts 4, " + failedTally, 100000},
          {"the recopy fails: the copier's message",
           [&](CopyHarness& h) {
             corrupted(kVerifyFullBytes, 2, 1)(h);
             h.platform.failCalls(Op::CopySmallFile, h.diskFull(), {{}, 1});
             return h.diskFull();
           },
           "CopyFile2 failed: ", "attempts 3, " + failedTally, 100000},
      },
      [](CopyHarness& h, uint32_t index) {
        copyItem(h.copy, index);
        EXPECT_EQ(h.output.items(), std::vector<std::string>{});  // left to the stage
        EXPECT_EQ(h.counters.copiedFiles.load(), 1u);
        verifyCommitWorker(h.copy, {index});
      });
}

}  // namespace
}  // namespace qv::test
