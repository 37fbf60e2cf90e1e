// The source scan as the host sees it through the built worker: its event,
// the totals of "complete", and a missing root ending the job.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/worker_run.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using tools::RequestFields;
using tools::writeRequest;

std::string scanComplete(uint64_t bytes, uint32_t files) {
  return "{\"type\":\"progress\",\"phase\":\"scan\",\"message\":\"Source scan complete.\","
         "\"currentFile\":\"\",\"totalBytes\":" + std::to_string(bytes) +
         ",\"processedBytes\":0,\"totalFiles\":" + std::to_string(files) +
         ",\"completedFiles\":0,\"skippedFiles\":0,\"failedFiles\":0,\"activeWorkers\":0,"
         "\"targetWorkers\":0,\"queueDepth\":0,\"bytesPerSecond\":0,\"retryQueue\":0}";
}

// The every-512-files events are checked on the scan itself (a unit test);
// here a small tree shows that a copy job scans first and that its totals
// reach "complete".
TEST(Scan, CopyJobScansFirstAndReportsItsTotals) {
  ScratchDir dir;
  fs::create_directories(dir.path() / "src" / "sub");
  writeBytes(dir.path() / "src" / "a.txt", "hello");
  writeBytes(dir.path() / "src" / "sub" / "b.bin", std::string(1000, 'b'));
  writeBytes(dir.path() / "single.txt", "12");
  RequestFields request;
  request.sourceRoots = {dir.text("src"), dir.text("single.txt")};
  request.destinationRoot = dir.text("out");
  const ProcessResult result = runWorkerOn(dir, writeRequest(request));
  EXPECT_EQ(result.exitCode, 0) << result.err;

  const std::vector<std::string> lines = eventLines(result.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], kHelloLine);
  EXPECT_EQ(lines[1], scanComplete(1007, 3));
  size_t scanEvents = 0;
  for (const std::string& line : lines) {
    if (line.rfind("{\"type\":\"progress\",\"phase\":\"scan\"", 0) == 0) ++scanEvents;
  }
  EXPECT_EQ(scanEvents, 1u);
  EXPECT_EQ(lines.back().rfind("{\"type\":\"complete\",\"totalBytes\":1007,", 0), 0u)
      << lines.back();
  EXPECT_NE(lines.back().find("\"totalFiles\":3,"), std::string::npos) << lines.back();
}

TEST(Scan, MissingRootIsFatalWithTheRootAsGiven) {
  ScratchDir dir;
  fs::create_directories(dir.path() / "present");
  // A second root the job never reaches, and a first one spelled loosely.
  const std::string missing = dir.text("absent") + "/./x/..";
  RequestFields request;
  request.sourceRoots = {missing, dir.text("present")};
  request.destinationRoot = dir.text("out");
  const ProcessResult result = runWorkerOn(dir, writeRequest(request));
  EXPECT_EQ(result.exitCode, 1);
  std::string escaped;
  for (char c : missing) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  const std::vector<std::string> expected = {
      kHelloLine,
      "{\"type\":\"fatal\",\"message\":\"Source path was not found: " + escaped + "\"}"};
  EXPECT_EQ(eventLines(result.out), expected);
  EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

}  // namespace
}  // namespace qv::test
