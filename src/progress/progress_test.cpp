#include "progress/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/captured_job.h"
#include "support/worker_run.h"

namespace qv {
namespace {

using TestJob = test::CapturedJob;

using namespace test;

constexpr int64_t kSecond = 1000000000;

// Workers race on the counters; what the host sees stays within bounds, and
// each phase shows its own measures.
TEST(ProgressEvent, CopyFormHasEveryKeyInOrderAndPhaseChoosesTheCounters) {
  JobCounters counters;
  counters.totalBytes = 5000;
  counters.copiedBytes = 4000;
  counters.inFlightBytes = 1500;  // copied + in flight is clamped to the total
  counters.verifiedBytes = 3000;
  counters.totalFiles = 10;
  counters.skippedFiles = 2;
  counters.failedFiles = 6;
  counters.verifyFailedFiles = 2;
  counters.activeWorkers = 3;
  counters.retryQueue = 4;
  EXPECT_EQ(progressEventLine(counters, "copy", "Say \"hi\"", 6, 5, 10 * kSecond,
                              u"C:\\in\\\u00e9.txt", 0, 12 * kSecond),
            "{\"type\":\"progress\",\"phase\":\"copy\",\"message\":\"Say \\\"hi\\\"\","
            "\"currentFile\":\"C:\\\\in\\\\\xC3\xA9.txt\",\"totalBytes\":5000,"
            "\"processedBytes\":5000,\"totalFiles\":10,\"completedFiles\":5,"
            "\"skippedFiles\":2,\"failedFiles\":6,\"activeWorkers\":3,\"targetWorkers\":6,"
            "\"queueDepth\":5,\"bytesPerSecond\":2500,\"retryQueue\":4}");
  struct Case {
    const char* phase;
    uint32_t completed, totalFilesOverride;
    int64_t processedBytes, failedFiles, totalFiles, queueDepth;
  } cases[] = {
      {"verify", 3, 7, 3000, 2, 7, 4},
      {"Copy", 4000000000u, 0, 3000, 6, 10, 0},  // any other phase text
  };
  for (const Case& c : cases) {
    const std::string line = progressEventLine(counters, c.phase, "m", 0, c.completed, 0, u"",
                                               c.totalFilesOverride, kSecond);
    EXPECT_EQ(eventNumber(line, "processedBytes"), c.processedBytes) << c.phase;
    EXPECT_EQ(eventNumber(line, "failedFiles"), c.failedFiles) << c.phase;
    EXPECT_EQ(eventNumber(line, "totalFiles"), c.totalFiles) << c.phase;
    EXPECT_EQ(eventNumber(line, "queueDepth"), c.queueDepth) << c.phase;
  }
}

TEST(ProgressEvent, ThroughputIsPlainAverageWithMillisecondFloor) {
  struct Case {
    uint64_t processed;
    int64_t elapsed;
    uint64_t expected;
  } cases[] = {
      {123456, 999999, 123456000},      // just under the floor, as a phase's first event
      {5, -kSecond, 5000},              // a start stamp after now
      {1000, 1000000, 1000000},         // exactly the floor
      {10, 3 * kSecond, 3},             // truncated, not rounded
      {UINT64_MAX, 0, UINT64_MAX},      // saturates instead of wrapping
  };
  for (const Case& c : cases) {
    JobCounters counters;
    counters.totalBytes = UINT64_MAX;
    counters.verifiedBytes = c.processed;
    const int64_t start = 50 * kSecond;
    const std::string line =
        progressEventLine(counters, "verify", "", 0, 0, start, u"", 0, start + c.elapsed);
    EXPECT_EQ(eventField(line, "bytesPerSecond"), std::to_string(c.expected))
        << c.processed << " bytes in " << c.elapsed << " ns";
  }
}

TEST(ProgressEvent, ScanFormCarriesOnlyTotalsAndFailures) {
  TestJob t;
  t.counters.totalBytes = 9000;
  t.counters.totalFiles = 512;
  t.counters.failedFiles = 2;
  t.counters.copiedBytes = 5;  // none of these show in the scan form
  t.counters.skippedFiles = 5;
  t.counters.activeWorkers = 5;
  t.counters.retryQueue = 5;
  sendScanProgress(t.job, u"/src/a\"b", ScanProgress::kScanning);
  EXPECT_EQ(t.output.text(),
            "{\"type\":\"progress\",\"phase\":\"scan\",\"message\":\"Scanning source...\","
            "\"currentFile\":\"/src/a\\\"b\",\"totalBytes\":9000,\"processedBytes\":0,"
            "\"totalFiles\":512,\"completedFiles\":0,\"skippedFiles\":0,\"failedFiles\":2,"
            "\"activeWorkers\":0,\"targetWorkers\":0,\"queueDepth\":0,\"bytesPerSecond\":0,"
            "\"retryQueue\":0}\n");
}

// The first event (copy only), the periodic ones ("Paused" while paused,
// with a rate that falls as the phase's time runs on) and the last one.
TEST(ProgressReporter, EachPhaseSendsItsMessagesCountsAndCurrentFile) {
  struct Case {
    ReporterPhase phase;
    bool paused, cancelled;
    const char* periodic;
    const char* last;
    int64_t completed, totalFiles;
    const char* lastFile;
  } cases[] = {
      {ReporterPhase::kCopy, false, false, "Copying...", "Copy phase complete.", 3, 4, ""},
      {ReporterPhase::kCopy, true, false, "Paused", "Copy phase complete.", 3, 4, ""},
      {ReporterPhase::kVerify, false, true, "Verifying...", "Verification cancelled.", 2, 3,
       "/busy"},
  };
  for (const Case& c : cases) {
    const bool copy = c.phase == ReporterPhase::kCopy;
    SCOPED_TRACE(c.periodic);
    TestJob t;
    t.counters.totalBytes = t.counters.copiedBytes = 1 << 20;
    t.counters.totalFiles = 4;  // a verification phase counts its own list
    t.counters.copiedFiles = t.counters.skippedFiles = t.counters.failedFiles = 1;
    t.counters.verifiedFiles = 2;
    t.control.setCurrentFile(u"/busy");
    if (c.paused) t.control.pause();
    if (c.cancelled) t.control.cancel();
    ProgressReporter reporter(t.job, c.phase, 5, monotonicNanoseconds(), copy ? 0 : 3);
    if (copy) reporter.sendFirst();
    reporter.start();
    t.output.waitForLines((copy ? 1 : 0) + (c.paused ? 2 : 1));
    reporter.finish();

    const std::vector<std::string> lines = t.output.lines();
    ASSERT_GE(lines.size(), (copy ? 1u : 0u) + (c.paused ? 3u : 2u));
    if (copy) {
      EXPECT_EQ(eventField(lines.front(), "message"), "Copying...");
      EXPECT_EQ(eventNumber(lines.front(), "completedFiles"), 0);
    }
    int64_t previousRate = INT64_MAX;
    for (size_t i = copy ? 1 : 0; i + 1 < lines.size(); ++i) {
      EXPECT_EQ(eventField(lines[i], "message"), c.periodic);
      EXPECT_EQ(eventField(lines[i], "currentFile"), "/busy");
      EXPECT_EQ(eventNumber(lines[i], "completedFiles"), c.completed);
      const int64_t rate = eventNumber(lines[i], "bytesPerSecond");
      if (c.paused) {
        EXPECT_LT(rate, previousRate);
      }
      previousRate = rate;
    }
    const std::string& last = lines.back();
    EXPECT_EQ(eventField(last, "phase"), copy ? "copy" : "verify");
    EXPECT_EQ(eventField(last, "message"), c.last);
    EXPECT_EQ(eventField(last, "currentFile"), c.lastFile);
    EXPECT_EQ(eventNumber(last, "completedFiles"), c.completed);
    EXPECT_EQ(eventNumber(last, "totalFiles"), c.totalFiles);
    EXPECT_EQ(eventNumber(last, "targetWorkers"), 5);
  }
}

}  // namespace
}  // namespace qv
