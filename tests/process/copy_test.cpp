// Copy jobs on real trees, run through the built worker: what lands in the
// destination, the item events and totals the host sees, and the control
// commands while a job runs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/worker_run.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using namespace tools;

constexpr uint64_t kThreshold = 262144;
constexpr uint64_t kSmallFormLimit = 16777216;

// Sizes around each boundary the engine draws, deep, empty and read-only
// folders, read-only files, and names that need care on the way to the
// system (quotes, backslashes and tabs are ordinary name characters only on
// POSIX). Every way of writing (read-ahead, both forms of
// the system copier, staged or in place, each verification mode) keeps the
// bytes, times and attributes of files and folders. With completed events
// suppressed, a staged item without verification still reports its rename.
TEST(CopyJob, MixedTreeIsCopiedWholeInEveryMode) {
  std::map<std::string, uint64_t> files = {
      {"empty.txt", 0}, {"at-threshold.bin", kThreshold}, {"over-threshold.bin", kThreshold + 1},
      {"large.bin", kSmallFormLimit + 1},
      {"deep/1/2/3/4/5/6/7/8/9/leaf.txt", 77}, {"with space and (brackets).txt", 10},
      {"ünïcödé ñame €.txt", 11}, {"日本語/ファイル.txt", 12}};
  if (fs::path::preferred_separator == '/') {
    files.insert({{"quote\"d.txt", 13}, {"back\\slash.txt", 14}, {"tab\there.txt", 15}});
  }
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read;
  const auto base = fs::file_time_type::clock::now() - std::chrono::hours(24 * 800);
  uint32_t seed = 1;
  uint64_t bytes = 0;
  for (const auto& [name, size] : files) {
    makeFile(src / fs::u8path(name), size, seed);
    fs::last_write_time(src / fs::u8path(name),
                        base + std::chrono::minutes(seed) + std::chrono::microseconds(123457));
    if (seed++ % 3 == 0) fs::permissions(src / fs::u8path(name), readOnly);
    bytes += size;
  }
  fs::create_directories(src / "empty-folder");
  fs::permissions(src / "deep", readOnly | fs::perms::owner_exec | fs::perms::group_exec);
  const uint32_t ra = kSmallFileReadAhead, direct = kDirectWrite, quiet = kSuppressCompletedEvents;
  // Sampled and full checks run in the verify-only tests.
  const std::vector<std::pair<uint32_t, uint8_t>> runs = {
      {0, 0}, {0, 2}, {ra | quiet, 0}, {ra | quiet, 3}, {direct | quiet, 0}, {direct | ra | quiet, 3}};
  for (const auto& [flags, mode] : runs) {
    SCOPED_TRACE("flags " + std::to_string(flags) + ", verification " + std::to_string(mode));
    const fs::path dst = dir.path() / ("dst" + std::to_string(flags) + std::to_string(mode));
    const JobOutput job = runJob(
        dir, copyRequest(src, dst, flags | kPreserveTimestamps | kPreserveAttributes, mode));
    EXPECT_EQ(job.exitCode, 0);
    EXPECT_EQ(job.complete(), completeLine(bytes, files.size(), files.size(), 0, false, "", bytes));
    // The item lines themselves the commit's unit tests pin byte for byte.
    const bool reported = !(flags & quiet) || (!(flags & direct) && mode == 0);
    EXPECT_EQ(job.items("completed").size(), reported ? files.size() : 0u);
    EXPECT_EQ(job.progress("verify").empty(), mode == 0);
    for (const std::string& name : entriesUnder(src)) {
      const fs::path path = fs::u8path(name.back() == '/' ? name.substr(0, name.size() - 1) : name);
      EXPECT_EQ(fs::last_write_time(dst / "src" / path), fs::last_write_time(src / path)) << name;
      EXPECT_EQ(fs::status(dst / "src" / path).permissions(), fs::status(src / path).permissions())
          << name;
    }
    expectSameTree(src, dst / "src");
  }
}

// ---- control ----

// The "Paused" progress events of the copy phase in the output so far.
std::vector<std::string> pausedEvents(const std::string& out) {
  std::vector<std::string> paused;
  for (const std::string& line : parseJob(0, out).progress("copy")) {
    if (eventField(line, "message") == "Paused") paused.push_back(line);
  }
  return paused;
}

// Verified, so the small files copied before the cancel wait in their
// staging files for a check that never comes: the job must remove them.
TEST(CopyControl, CancelStopsAGibibyteCopyWithinASecondAndLeavesNothing) {
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  for (int i = 0; i < 3; ++i) makeFile(src / ("small" + std::to_string(i)), 1000, i + 1);
  makeSparseFile(src / "huge.bin", uint64_t{1} << 30);
  const fs::path dst = dir.path() / "dst";
  writeBytes(dir.path() / "r.bin", writeRequest(copyRequest(src, dst, 0, 3)));

  Subprocess worker(workerPath(), {"--request", dir.text("r.bin")});
  // Only a copy progress event can count the three small files before the end.
  ASSERT_TRUE(worker.waitForOutput(outputHas("\"completedFiles\":3,"), std::chrono::seconds(60)))
      << worker.out();
  const auto cancelledAt = std::chrono::steady_clock::now();
  worker.write("cancel\n");
  const int exitCode = worker.wait(std::chrono::seconds(30));
  EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, std::chrono::seconds(1));
  EXPECT_EQ(exitCode, 0);
  const JobOutput job = parseJob(exitCode, worker.out());
  EXPECT_NE(job.progress("copy").back().find("\"message\":\"Copy cancelled.\""), std::string::npos);
  EXPECT_NE(job.complete().find("\"cancelled\":true"), std::string::npos);
  EXPECT_EQ(job.items().size(), 0u);
  EXPECT_EQ(entriesUnder(dst), std::vector<std::string>{"src/"});
}

TEST(CopyControl, PauseHoldsEveryWorkerAndResumeCompletes) {
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  for (int i = 0; i < 30; ++i) makeFile(src / ("f" + std::to_string(i)), 5000, i + 1);
  makeSparseFile(src / "large.bin", uint64_t{256} << 20);
  const fs::path dst = dir.path() / "dst";
  writeBytes(dir.path() / "r.bin", writeRequest(copyRequest(src, dst, kSmallFileReadAhead)));

  Subprocess worker(workerPath(), {"--request", dir.text("r.bin")});
  // The copy phase's first event comes before its workers start.
  ASSERT_TRUE(worker.waitForOutput(outputHas("\"phase\":\"copy\""), std::chrono::seconds(30)));
  worker.write("pause\n");
  const auto fourPaused = [](const std::string& out) { return pausedEvents(out).size() >= 4; };
  ASSERT_TRUE(worker.waitForOutput(fourPaused, std::chrono::seconds(30))) << worker.out();
  // The first "Paused" event may still see a small file in hand finish.
  const std::vector<std::string> paused = pausedEvents(worker.out());
  for (size_t i = 2; i < paused.size(); ++i) {
    EXPECT_EQ(eventField(paused[i], "processedBytes"), eventField(paused[1], "processedBytes"));
  }
  EXPECT_LT(eventNumber(paused.back(), "processedBytes"), int64_t{256 << 20} + 30 * 5000);
  worker.write("resume\n");
  worker.closeInput();
  EXPECT_EQ(worker.wait(std::chrono::seconds(60)), 0);
  EXPECT_EQ(eventNumber(parseJob(0, worker.out()).complete(), "completedFiles"), 31);
  EXPECT_EQ(entriesUnder(dst / "src"), entriesUnder(src));
}

}  // namespace
}  // namespace qv::test
