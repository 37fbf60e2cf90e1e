#include "progress/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/captured_job.h"
#include "support/worker_run.h"

namespace qv {
namespace {

using TestJob = test::CapturedJob;

using test::eventField;
using test::eventNumber;

constexpr int64_t kSecond = 1000000000;

TEST(ProgressEvent, CopyFormHasEveryKeyInOrder) {
  JobCounters counters;
  counters.totalBytes = 5000;
  counters.copiedBytes = 1000;
  counters.inFlightBytes = 500;
  counters.verifiedBytes = 77;  // not the copy's measure
  counters.totalFiles = 10;
  counters.skippedFiles = 2;
  counters.failedFiles = 1;
  counters.verifyFailedFiles = 9;  // not the copy's measure
  counters.activeWorkers = 3;
  counters.retryQueue = 4;
  EXPECT_EQ(progressEventLine(counters, "copy", "Say \"hi\"", 6, 5, 10 * kSecond,
                              u"C:\\in\\\u00e9.txt", 0, 12 * kSecond),
            "{\"type\":\"progress\",\"phase\":\"copy\",\"message\":\"Say \\\"hi\\\"\","
            "\"currentFile\":\"C:\\\\in\\\\\xC3\xA9.txt\",\"totalBytes\":5000,"
            "\"processedBytes\":1500,\"totalFiles\":10,\"completedFiles\":5,"
            "\"skippedFiles\":2,\"failedFiles\":1,\"activeWorkers\":3,\"targetWorkers\":6,"
            "\"queueDepth\":5,\"bytesPerSecond\":750,\"retryQueue\":4}");
}

TEST(ProgressEvent, VerifyFormUsesVerificationCountersAndOverride) {
  JobCounters counters;
  counters.totalBytes = 5000;
  counters.copiedBytes = 4000;
  counters.verifiedBytes = 3000;
  counters.totalFiles = 10;
  counters.failedFiles = 6;
  counters.verifyFailedFiles = 2;
  EXPECT_EQ(progressEventLine(counters, "verify", "Verifying...", 4, 3, 0, u"", 7,
                              3 * kSecond),
            "{\"type\":\"progress\",\"phase\":\"verify\",\"message\":\"Verifying...\","
            "\"currentFile\":\"\",\"totalBytes\":5000,\"processedBytes\":3000,"
            "\"totalFiles\":7,\"completedFiles\":3,\"skippedFiles\":0,\"failedFiles\":2,"
            "\"activeWorkers\":0,\"targetWorkers\":4,\"queueDepth\":4,"
            "\"bytesPerSecond\":1000,\"retryQueue\":0}");
  // Any other phase text: verified bytes, but every failed file.
  const std::string other =
      progressEventLine(counters, "Copy", "m", 0, 0, 0, u"", 0, kSecond);
  EXPECT_EQ(eventNumber(other, "processedBytes"), 3000);
  EXPECT_EQ(eventNumber(other, "failedFiles"), 6);
}

// Workers race on the counters; what the host sees stays within bounds.
TEST(ProgressEvent, ProcessedBytesAndQueueDepthAreClamped) {
  JobCounters counters;
  counters.totalBytes = 100;
  counters.copiedBytes = 90;
  counters.inFlightBytes = 50;
  counters.totalFiles = 3;
  for (uint32_t completed : {3u, 4u, 4000000000u}) {
    const std::string line =
        progressEventLine(counters, "copy", "", 0, completed, 0, u"", 0, kSecond);
    EXPECT_EQ(eventNumber(line, "processedBytes"), 100);
    EXPECT_EQ(eventNumber(line, "bytesPerSecond"), 100);
    EXPECT_EQ(eventNumber(line, "queueDepth"), 0) << completed;
  }
}

TEST(ProgressEvent, ThroughputIsPlainAverageWithMillisecondFloor) {
  struct Case {
    uint64_t processed;
    int64_t elapsed;
    uint64_t expected;
  } cases[] = {
      {7, 0, 7000},                     // first event of a phase
      {123456, 999999, 123456000},      // just under the floor
      {5, -kSecond, 5000},              // a start stamp after now
      {1000, 1000000, 1000000},         // exactly the floor
      {10, 3 * kSecond, 3},             // truncated, not rounded
      {0, 5 * kSecond, 0},
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
  sendScanProgress(t.job, u"", ScanProgress::kComplete);
  const std::string tail =
      "\"totalBytes\":9000,\"processedBytes\":0,\"totalFiles\":512,\"completedFiles\":0,"
      "\"skippedFiles\":0,\"failedFiles\":2,\"activeWorkers\":0,\"targetWorkers\":0,"
      "\"queueDepth\":0,\"bytesPerSecond\":0,\"retryQueue\":0}\n";
  EXPECT_EQ(t.output.text(),
            "{\"type\":\"progress\",\"phase\":\"scan\",\"message\":\"Scanning source...\","
            "\"currentFile\":\"/src/a\\\"b\"," + tail +
            "{\"type\":\"progress\",\"phase\":\"scan\",\"message\":\"Source scan complete.\","
            "\"currentFile\":\"\"," + tail);
}

TEST(ProgressReporter, CopySendsFirstPeriodicAndLastEvents) {
  TestJob t;
  t.counters.totalFiles = 4;
  t.counters.copiedFiles = 1;
  t.counters.skippedFiles = 1;
  t.counters.failedFiles = 1;
  t.control.setCurrentFile(u"/src/busy");
  ProgressReporter reporter(t.job, ReporterPhase::kCopy, 5, monotonicNanoseconds(), 0);
  reporter.sendFirst();
  reporter.start();
  t.output.waitForLines(2);
  reporter.finish();

  const std::vector<std::string> lines = t.output.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(eventField(lines.front(), "message"), "Copying...");
  EXPECT_EQ(eventNumber(lines.front(), "completedFiles"), 0);
  EXPECT_NE(lines.front().find("\"currentFile\":\"/src/busy\""), std::string::npos);
  // The reporter's first event goes out as soon as it runs.
  EXPECT_EQ(eventField(lines[1], "message"), "Copying...");
  EXPECT_EQ(eventNumber(lines[1], "completedFiles"), 3);
  EXPECT_NE(lines[1].find("\"currentFile\":\"/src/busy\""), std::string::npos);
  EXPECT_EQ(eventField(lines.back(), "message"), "Copy phase complete.");
  EXPECT_EQ(eventNumber(lines.back(), "completedFiles"), 3);
  EXPECT_EQ(eventNumber(lines.back(), "targetWorkers"), 5);
  EXPECT_NE(lines.back().find("\"currentFile\":\"\""), std::string::npos);
}

TEST(ProgressReporter, PausedJobKeepsReportingWithFallingRate) {
  TestJob t;
  t.counters.totalBytes = 1 << 20;
  t.counters.copiedBytes = 1 << 20;
  t.control.pause();
  ProgressReporter reporter(t.job, ReporterPhase::kCopy, 1, monotonicNanoseconds(), 0);
  reporter.sendFirst();
  reporter.start();
  t.output.waitForLines(3);
  reporter.finish();

  const std::vector<std::string> lines = t.output.lines();
  // first event, at least two periodic ones, last event
  ASSERT_GE(lines.size(), 4u);
  int64_t previousRate = INT64_MAX;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(eventField(lines[i], "message"), "Paused");
    const int64_t rate = eventNumber(lines[i], "bytesPerSecond");
    EXPECT_LT(rate, previousRate);
    previousRate = rate;
  }
  EXPECT_EQ(eventField(lines.back(), "message"), "Copy phase complete.");
}

TEST(ProgressReporter, VerifyLastEventNamesCancelAndKeepsCurrentFile) {
  TestJob t;
  t.counters.verifiedFiles = 2;
  t.counters.totalFiles = 50;  // replaced by the list's size
  t.control.setCurrentFile(u"/dst/last");
  t.control.cancel();
  ProgressReporter reporter(t.job, ReporterPhase::kVerify, 8, monotonicNanoseconds(), 3);
  reporter.start();
  reporter.finish();

  const std::vector<std::string> lines = t.output.lines();
  ASSERT_GE(lines.size(), 1u);
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(eventField(lines[i], "message"), "Verifying...");
  }
  const std::string& last = lines.back();
  EXPECT_EQ(eventField(last, "message"), "Verification cancelled.");
  EXPECT_NE(last.find("\"phase\":\"verify\""), std::string::npos);
  EXPECT_NE(last.find("\"currentFile\":\"/dst/last\""), std::string::npos);
  EXPECT_EQ(eventNumber(last, "totalFiles"), 3);
  EXPECT_EQ(eventNumber(last, "completedFiles"), 2);
  EXPECT_EQ(eventNumber(last, "queueDepth"), 1);
}

}  // namespace
}  // namespace qv
