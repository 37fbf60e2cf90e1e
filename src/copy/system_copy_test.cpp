#include "copy/system_copy.h"

#include <chrono>
#include <filesystem>
#include <functional>

#include "copy/copy_test_fixture.h"
#include "copy/staging_cleanup.h"

namespace qv::test {
namespace {

TEST(SystemCopy, FailuresLeaveNoStagingFileAndNoDestination) {
  struct Case {
    const char* name;
    uint64_t size;
    std::function<void(CopyHarness&, uint32_t)> arrange;
    std::function<std::string(CopyHarness&)> message;
  };
  const uint64_t large = kLargestSmallFormCopy + 1;
  auto changed = [](CopyHarness&) {
    return std::string("The source changed while it was being copied.");
  };
  auto growSourceAfter = [](Op op) {
    return [op](CopyHarness& h, uint32_t) {
      h.platform.addHook(op, When::After,
                         [&h](const std::u16string&) { appendTo(h.at("src/f"), "x"); });
    };
  };
  const std::vector<Case> cases = {
      {"disk full in the small form", 1000,
       [](CopyHarness& h, uint32_t) { h.platform.failCalls(Op::CopySmallFile, h.diskFull()); },
       [](CopyHarness& h) { return "CopyFile2 failed: " + h.text(h.diskFull()); }},
      {"disk full part way through the large form", large,
       [](CopyHarness& h, uint32_t) { h.platform.failLargeCopyAfter(1, h.diskFull()); },
       [](CopyHarness& h) { return "Copy failed: " + h.text(h.diskFull()); }},
      {"source changed after planning", 1000,
       [](CopyHarness& h, uint32_t) { appendTo(h.at("src/f"), "more"); }, changed},
      {"source grew during a small copy", 1000, growSourceAfter(Op::CopySmallFile), changed},
      {"source grew during a large copy", large, growSourceAfter(Op::CopyLargeFile), changed},
      {"source rewritten in place during a copy", 1000,
       [](CopyHarness& h, uint32_t) {
         h.platform.addHook(Op::CopySmallFile, When::After, [&h](const std::u16string&) {
           std::filesystem::last_write_time(h.at("src/f"),
                                            std::filesystem::last_write_time(h.at("src/f")) -
                                                std::chrono::hours(1));
         });
       },
       changed},
      {"source gone, no recorded time", 1000,
       [](CopyHarness& h, uint32_t index) {
         h.plan.files[index].lastWriteTime = 0;
         std::filesystem::remove(h.at("src/f"));
       },
       [](CopyHarness& h) {
         FileInfo info;
         return "Unable to open the source: " +
                h.text(h.platform.inner().readFileInfo(u16(h.at("src/f")), info));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CopyHarness h;
    h.request.retryCount = 0;
    const uint32_t index = h.planFile("src/f", std::string(c.size, 'a'), "dst/f");
    c.arrange(h, index);
    copyItem(h.copy, index);
    h.expectOnlyFailure(index, c.message(h));
  }
}

TEST(SystemCopy, MakesRetryCountPlusOneAttempts) {
  for (uint32_t retries : {0u, 1u, 3u}) {
    SCOPED_TRACE(retries);
    CopyHarness h;
    h.request.retryCount = retries;
    const uint32_t index = h.planFile("src/f", "data", "dst/f");
    h.platform.failCalls(Op::CopySmallFile, h.diskFull());
    copyItem(h.copy, index);
    EXPECT_EQ(h.platform.calls(Op::CopySmallFile), retries + 1);
    h.expectOnlyFailure(index, "CopyFile2 failed: " + h.text(h.diskFull()));
  }
}

TEST(SystemCopy, RetryAfterATransientFailureCompletes) {
  CopyHarness h;
  const uint32_t index = h.planFile("src/f", "data", "dst/f");
  CallMatch once;
  once.times = 1;
  h.platform.failCalls(Op::CopySmallFile, h.diskFull(), once);
  copyItem(h.copy, index);
  EXPECT_EQ(h.platform.calls(Op::CopySmallFile), 2u);
  EXPECT_EQ(h.output.items(), std::vector<std::string>{h.itemEvent("completed", index, "")});
  EXPECT_EQ(h.counters.completedFiles.load(), 1u);
  EXPECT_EQ(h.counters.copiedBytes.load(), 4u);
  EXPECT_EQ(readBytes(h.at("dst/f")), "data");
  EXPECT_EQ(h.errors.escapedForEvent(), "");
}

TEST(SystemCopy, ReadOnlyStaleStagingFileIsReplaced) {
  CopyHarness h;
  h.request.retryCount = 0;  // replaced within the one attempt, not by a retry
  const uint32_t index = h.planFile("src/f", "fresh", "dst/f");
  const std::filesystem::path staging(h.planner.stagingPathFor(h.plan.files[index], index));
  writeBytes(staging, "stale and longer");
  std::filesystem::permissions(staging, std::filesystem::perms::owner_read);
  copyItem(h.copy, index);
  EXPECT_EQ(readBytes(h.at("dst/f")), "fresh");
  EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
}

TEST(SystemCopy, DirectWriteNeverRemovesADestinationItDidNotWrite) {
  CopyHarness h;
  h.request.optionFlags = kDirectWrite;
  h.request.retryCount = 0;
  const uint32_t index = h.planFile("src/f", "ours", "dst/f");
  // Another program creates the destination after the conflict decision.
  h.platform.addHook(Op::CopySmallFile, When::Before,
                     [&h](const std::u16string&) { writeBytes(h.at("dst/f"), "theirs"); });
  copyItem(h.copy, index);
  EXPECT_EQ(h.counters.failedFiles.load(), 1u);
  removePartialFiles(h.job);
  EXPECT_EQ(readBytes(h.at("dst/f")), "theirs");
}

TEST(SystemCopy, CancelStopsALargeCopyAndReportsNothing) {
  CopyHarness h;
  h.request.retryCount = 3;
  const uint32_t index = h.planFile("src/f", std::string(kLargestSmallFormCopy + 1, 'z'), "dst/f");
  h.platform.addHook(Op::CopyLargeFile, When::Before,
                     [&h](const std::u16string&) { h.control.cancel(); });
  copyItem(h.copy, index);
  EXPECT_EQ(h.platform.calls(Op::CopyLargeFile), 1u);
  EXPECT_EQ(h.output.items(), std::vector<std::string>{});
  EXPECT_EQ(h.counters.failedFiles.load() + h.counters.copiedFiles.load(), 0u);
  EXPECT_EQ(h.counters.inFlightBytes.load(), 0u);
  EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
  EXPECT_FALSE(std::filesystem::exists(h.at("dst/f")));
}

}  // namespace
}  // namespace qv::test
