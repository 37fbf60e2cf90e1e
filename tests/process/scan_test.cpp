// The source scan as the host sees it through the built worker: its event,
// the totals of "complete", and a missing root ending the job.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "frame/event_text.h"
#include "support/worker_run.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using tools::RequestFields;
using tools::writeRequest;

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

  const JobOutput job = parseJob(result.exitCode, result.out);
  ASSERT_GE(job.lines.size(), 3u);
  EXPECT_EQ(job.lines[0], kHelloLine);
  EXPECT_EQ(job.lines[1], scanCompleteLine(1007, 3));
  EXPECT_EQ(job.progress("scan").size(), 1u);
  EXPECT_EQ(job.total("totalBytes"), 1007);
  EXPECT_EQ(job.total("totalFiles"), 3);
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
  const std::vector<std::string> expected = {
      kHelloLine, fatalLine("Source path was not found: " + jsonEscape(missing))};
  EXPECT_EQ(eventLines(result.out), expected);
  EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

}  // namespace
}  // namespace qv::test
