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
    EXPECT_EQ(h.tally(), "copier calls 1, copied 1, completed 0, failed 1");
    EXPECT_EQ(h.stagingFiles().size(), 1u);  // until the end of the job
    removePartialFiles(h.job);
    EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
    EXPECT_EQ(std::filesystem::exists(h.at("dst/f")), destinationAppears);
  }
}

// The copy of one file, then, in verification mode `mode` with `retries`,
// the verification stage on one thread; the staged copy of the first
// `badCopies` copies is corrupted (its first byte flipped). Each mode's
// message is pinned by the verifier's own tests.
TEST(Commit, WaitsForVerificationAndNeverFollowsACancel) {
  const auto corrupted = [](uint8_t mode, uint32_t retries, uint32_t badCopies) {
    return changing([=](CopyHarness& h) {
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
    });
  };
  const std::string failedTally =
      "copied 1, completed 0, failed 1, verified 1, verify failed 1, verified bytes 100000";
  expectItemCases(
      {
          {"a cancel after staging discards the copy", changing([](CopyHarness& h) {
             h.platform.addHook(Op::CopySmallFile, When::After,
                                [&h](const std::u16string&) { h.control.cancel(); });
           }),
           kSilent, "copier calls 1, copied 0, completed 0, failed 0"},
          {"bad once, good on the recopy", corrupted(kVerifyFullBytes, 1, 1), "",
           "copier calls 2, copied 1, completed 1, failed 0, verified 1, verified bytes 100000",
           100000},
          {"bad every time: retryCount recopies, then it fails",
           corrupted(kVerifyFullBytes, 3, kEveryCall), "Verification found different file data.",
           "copier calls 4, " + failedTally, 100000},
          {"the recopy fails: the copier's message",
           [&](CopyHarness& h) {
             corrupted(kVerifyFullBytes, 2, 1)(h);
             h.platform.failCalls(Op::CopySmallFile, h.diskFull(), {{}, 1});
             return h.diskFull();
           },
           "CopyFile2 failed: ", "copier calls 3, " + failedTally, 100000},
      },
      [](CopyHarness& h, uint32_t index) {
        copyItem(h.copy, index);
        if (h.control.cancelled()) return;
        EXPECT_EQ(h.output.items(), std::vector<std::string>{});  // left to the stage
        verifyCommitWorker(h.copy, {index});
      });
}

}  // namespace
}  // namespace qv::test
