#include "copy/system_copy.h"

#include <chrono>
#include <filesystem>

#include "copy/copy_test_fixture.h"
#include "copy/staging_cleanup.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

TEST(SystemCopy, EachFailureLeavesNoStagingFileAndNoDestination) {
  const uint64_t large = kLargestSmallFormCopy + 1;
  const std::string changed = "The source changed while it was being copied.";
  const std::string failedOnce = "copier calls 1, copied 0, completed 0, failed 1";
  const auto failCopies = [](uint32_t retries, uint32_t times) {
    return [=](CopyHarness& h) {
      h.request.retryCount = retries;
      h.platform.failCalls(Op::CopySmallFile, h.diskFull(), {{}, 0, times});
      return h.diskFull();
    };
  };
  expectItemCases(
      {
          {"disk full on every one of retryCount + 1 attempts", failCopies(3, kEveryCall),
           "CopyFile2 failed: ", "copier calls 4, copied 0, completed 0, failed 1"},
          {"a retry after a transient failure completes", failCopies(1, 1), "",
           "copier calls 2, copied 1, completed 1, failed 0"},
          {"disk full part way through the large form",
           [](CopyHarness& h) {
             h.platform.failLargeCopyAfter(1, h.diskFull());
             return h.diskFull();
           },
           "Copy failed: ", failedOnce, large},
          {"source changed after planning",
           changing([](CopyHarness& h) { appendTo(h.at("src/f"), "more"); }), changed, failedOnce},
          {"source grew during a large copy", changing([](CopyHarness& h) {
             h.platform.addHook(Op::CopyLargeFile, When::After,
                                [&h](const std::u16string&) { appendTo(h.at("src/f"), "x"); });
           }),
           changed, failedOnce, large},
          // Same size, only the time differs.
          {"source rewritten in place during a small copy", changing([](CopyHarness& h) {
             h.platform.addHook(Op::CopySmallFile, When::After, [&h](const std::u16string&) {
               fs::last_write_time(h.at("src/f"),
                                   fs::last_write_time(h.at("src/f")) - std::chrono::hours(1));
             });
           }),
           changed, failedOnce},
          {"source gone, no recorded time",
           [](CopyHarness& h) {
             h.plan.files[0].lastWriteTime = 0;
             fs::remove(h.at("src/f"));
             FileInfo info;
             return h.platform.inner().readFileInfo(u16(h.at("src/f")), info);
           },
           "Unable to open the source: ", "copier calls 0, copied 0, completed 0, failed 1"},
          {"a read-only stale staging file is removed and the copier run again",
           changing([](CopyHarness& h) {
             const fs::path staging(h.planner.stagingPathFor(h.plan.files[0], 0));
             writeBytes(staging, "stale and longer than the source");
             fs::permissions(staging, fs::perms::owner_read);
           }),
           "", "copier calls 2, copied 1, completed 1, failed 0"},
          {"a cancel stops a large copy, retries or not", changing([](CopyHarness& h) {
             h.request.retryCount = 3;
             h.platform.addHook(Op::CopyLargeFile, When::Before,
                                [&h](const std::u16string&) { h.control.cancel(); });
           }),
           kSilent, "copier calls 1, copied 0, completed 0, failed 0", large},
      },
      [](CopyHarness& h, uint32_t index) { copyItem(h.copy, index); });
}

TEST(SystemCopy, DirectWriteNeverRemovesADestinationItDidNotWrite) {
  CopyHarness h;
  h.request.optionFlags = kDirectWrite;
  const uint32_t index = h.planFile("src/f", "ours", "dst/f");
  // Another program creates the destination after the conflict decision.
  h.platform.addHook(Op::CopySmallFile, When::Before,
                     [&h](const std::u16string&) { writeBytes(h.at("dst/f"), "theirs"); });
  copyItem(h.copy, index);
  EXPECT_EQ(h.counters.failedFiles.load(), 1u);
  removePartialFiles(h.job);
  EXPECT_EQ(readBytes(h.at("dst/f")), "theirs");
}

}  // namespace
}  // namespace qv::test
