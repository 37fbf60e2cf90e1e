// Copy jobs on real trees, run through the built worker: what lands in the
// destination, the item events and totals the host sees, and the control
// commands while a job runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "frame/event_text.h"
#include "platform/platform.h"
#include "support/worker_run.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using tools::RequestFields;
using tools::writeRequest;

using tools::kDirectWrite;
using tools::kPrePlanned;
using tools::kPreserveAttributes;
using tools::kPreserveTimestamps;
using tools::kSmallFileReadAhead;
using tools::kSuppressCompletedEvents;

// Quotes, backslashes and tabs are ordinary name characters only on POSIX.
constexpr bool kPosixNames = fs::path::preferred_separator == '/';

constexpr uint64_t kThreshold = 262144;
constexpr uint64_t kSmallFormLimit = 16777216;

bool sameBytes(const fs::path& a, const fs::path& b) { return readBytes(a) == readBytes(b); }

void expectSameTree(const fs::path& source, const fs::path& copy) {
  const std::vector<std::string> names = entriesUnder(source);
  ASSERT_EQ(names, entriesUnder(copy));
  for (const std::string& name : names) {
    if (name.back() == '/') continue;
    EXPECT_TRUE(sameBytes(source / fs::u8path(name), copy / fs::u8path(name))) << name;
  }
}

// Gives `target` (a folder too) the times of `model`.
void setTimesLike(const fs::path& target, const fs::path& model) {
  Platform& platform = systemPlatform();
  FileInfo info;
  ASSERT_EQ(platform.readFileInfo(model.u16string(), info), 0u);
  std::unique_ptr<MetadataWriter> writer;
  ASSERT_EQ(platform.openForMetadataWrite(target.u16string(), writer), 0u);
  ASSERT_EQ(writer->setTimes(info), 0u);
}

RequestFields copyOf(const fs::path& source, const fs::path& destination, uint32_t flags = 0) {
  RequestFields fields;
  fields.sourceRoots = {utf8(source)};
  fields.destinationRoot = utf8(destination);
  fields.optionFlags = flags;
  return fields;
}

// The files of the mixed tree: sizes around each boundary the engine
// draws, deep and empty folders, and names that need care on the way to
// the system and into JSON.
std::map<std::string, uint64_t> mixedTreeFiles() {
  std::map<std::string, uint64_t> files = {
      {"empty.txt", 0},
      {"at-threshold.bin", kThreshold},
      {"over-threshold.bin", kThreshold + 1},
      {"deep/1/2/3/4/5/6/7/8/9/leaf.txt", 77},
      {"with space and (brackets).txt", 10},
      {"ünïcödé ñame €.txt", 11},
      {"日本語/ファイル.txt", 12},
  };
  if (kPosixNames) {
    files["quote\"d.txt"] = 13;
    files["back\\slash.txt"] = 14;
    files["tab\there.txt"] = 15;
  }
  for (int i = 0; i < 40; ++i) {
    files["many/f" + std::to_string(i)] = static_cast<uint64_t>(i) * 997;
  }
  return files;
}

void buildTree(const fs::path& root, const std::map<std::string, uint64_t>& files) {
  uint32_t seed = 1;
  for (const auto& [name, size] : files) makeFile(root / fs::u8path(name), size, seed++);
  fs::create_directories(root / "empty-folder");
}

// ---- copy jobs ----

// Each run also checks the exact item events, whose names need escaping.
TEST(CopyJob, MixedTreeIsCopiedWholeInEveryMode) {
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  const std::map<std::string, uint64_t> files = mixedTreeFiles();
  buildTree(src, files);
  // Every verification mode once, and both ways of copying small files.
  const uint32_t ra = kSmallFileReadAhead;
  const std::vector<std::pair<uint32_t, uint8_t>> runs = {{0, 0},  {0, 2},  {ra, 0},
                                                          {ra, 1}, {ra, 3}, {ra, 4}};
  for (const auto& [flags, mode] : runs) {
    SCOPED_TRACE("read-ahead " + std::to_string(flags != 0) + ", verification " +
                 std::to_string(mode));
    const fs::path dst = dir.path() / ("dst" + std::to_string(flags) + std::to_string(mode));
    RequestFields fields = copyOf(src, dst, flags);
    fields.verificationMode = mode;
    const JobOutput job = runJob(dir, fields);
    EXPECT_EQ(job.exitCode, 0);
    // The scan comes first, and its totals reach "complete".
    uint64_t bytes = 0;
    for (const auto& file : files) bytes += file.second;
    EXPECT_EQ(job.lines.at(1), scanCompleteLine(bytes, static_cast<uint32_t>(files.size())));
    EXPECT_EQ(job.total("totalBytes"), static_cast<int64_t>(bytes));
    EXPECT_EQ(job.total("totalFiles"), static_cast<int64_t>(files.size()));
    EXPECT_EQ(job.total("completedFiles"), static_cast<int64_t>(files.size()));
    EXPECT_EQ(job.total("failedFiles"), 0);
    std::vector<std::string> expected;
    for (const auto& [name, size] : files) {
      const fs::path path = fs::u8path(name).make_preferred();
      expected.push_back("{\"type\":\"item\",\"status\":\"completed\",\"source\":\"" +
                         jsonEscape(utf8(src / path)) + "\",\"destination\":\"" +
                         jsonEscape(utf8(dst / "src" / path)) + "\",\"size\":" +
                         std::to_string(size) + ",\"error\":\"\"}");
    }
    std::vector<std::string> got = job.items();
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected);
    EXPECT_NE(job.complete().find("\"cancelled\":false,\"errors\":\"\"}"), std::string::npos);
    EXPECT_EQ(job.progress("verify").empty(), mode == 0);
    expectSameTree(src, dst / "src");
    EXPECT_EQ(stagingFilesUnder(dst), std::vector<std::string>{});
    fs::remove_all(dst);
  }
}

TEST(CopyJob, PrePlannedJobReadsThroughReadPaths) {
  ScratchDir dir;
  makeFile(dir.path() / "real/a.bin", 1000, 1);
  makeFile(dir.path() / "real/big.bin", kSmallFormLimit + 1, 2);
  fs::create_directories(dir.path() / "real/folder");
  RequestFields fields;
  fields.optionFlags = kPrePlanned | kSmallFileReadAhead;
  const fs::path dst = dir.path() / "out";
  fields.files = {
      {"shown/a.bin", utf8(dir.path() / "real/a.bin"), utf8(dst / "x/a.bin"), 1000, 0},
      {"shown/big.bin", utf8(dir.path() / "real/big.bin"), utf8(dst / "y/big.bin"),
       kSmallFormLimit + 1, 0},
  };
  fields.directories = {{"shown/folder", utf8(dir.path() / "real/folder"), utf8(dst / "z")}};
  const JobOutput job = runJob(dir, fields);
  EXPECT_EQ(job.exitCode, 0);
  EXPECT_EQ(job.total("totalBytes"), static_cast<int64_t>(1000 + kSmallFormLimit + 1));
  EXPECT_EQ(job.total("completedFiles"), 2);
  EXPECT_EQ(job.lines[1], scanCompleteLine(1000 + kSmallFormLimit + 1, 2));
  EXPECT_NE(job.items("completed")[0].find("\"source\":\"shown/"), std::string::npos);
  EXPECT_TRUE(sameBytes(dir.path() / "real/a.bin", dst / "x/a.bin"));
  EXPECT_TRUE(sameBytes(dir.path() / "real/big.bin", dst / "y/big.bin"));
  EXPECT_TRUE(fs::is_directory(dst / "z"));
}

TEST(CopyJob, ConflictPoliciesAgainstExistingFiles) {
  struct Case {
    uint8_t policy;
    std::string kept;       // what dst/src/a.txt holds afterwards
    bool renamedCopy;       // a (1).txt holds the new copy
    int64_t skipped;
  };
  const std::vector<Case> cases = {{0, "old", false, 1}, {1, "new", false, 0},
                                   {2, "old", true, 0},  {7, "old", true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.policy));
    ScratchDir dir;
    const fs::path src = dir.path() / "src";
    const fs::path dst = dir.path() / "dst";
    writeBytes((fs::create_directories(src), src / "a.txt"), "new");
    writeBytes(src / "b.txt", "b");
    writeBytes((fs::create_directories(dst / "src"), dst / "src/a.txt"), "old");
    RequestFields fields = copyOf(src, dst, kSmallFileReadAhead);
    fields.conflictPolicy = c.policy;
    const JobOutput job = runJob(dir, fields);
    EXPECT_EQ(job.exitCode, 0);
    EXPECT_EQ(job.total("skippedFiles"), c.skipped);
    EXPECT_EQ(job.items("skipped").size(), static_cast<size_t>(c.skipped));
    EXPECT_EQ(readBytes(dst / "src/a.txt"), c.kept);
    EXPECT_EQ(fs::exists(dst / "src/a (1).txt"), c.renamedCopy);
    if (c.renamedCopy) {
      EXPECT_EQ(readBytes(dst / "src/a (1).txt"), "new");
    }
    EXPECT_EQ(readBytes(dst / "src/b.txt"), "b");
    EXPECT_EQ(stagingFilesUnder(dst), std::vector<std::string>{});
  }
}

TEST(CopyJob, ConflictPoliciesBetweenCollidingSources) {
  struct Case {
    uint8_t policy;
    int exitCode;
    std::string secondStatus;
    std::string secondError;
    std::string secondLandsAt;  // empty: nowhere
  };
  const std::vector<Case> cases = {
      {0, 0, "skipped", "", ""},
      {1, 2, "failed", "Multiple source files resolve to the same overwrite destination.", ""},
      {2, 0, "completed", "", "x (1).txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.policy));
    ScratchDir dir;
    writeBytes(dir.path() / "first", "first");
    writeBytes(dir.path() / "second", "second");
    const fs::path dst = dir.path() / "dst";
    RequestFields fields;
    fields.optionFlags = kPrePlanned;
    fields.workerCount = 1;  // a fixed winner
    fields.conflictPolicy = c.policy;
    fields.files = {{utf8(dir.path() / "first"), "", utf8(dst / "x.txt"), 5, 0},
                    {utf8(dir.path() / "second"), "", utf8(dst / "x.txt"), 6, 0}};
    const JobOutput job = runJob(dir, fields);
    EXPECT_EQ(job.exitCode, c.exitCode);
    EXPECT_EQ(readBytes(dst / "x.txt"), "first");
    const std::vector<std::string> second = job.items(c.secondStatus);
    ASSERT_FALSE(second.empty());
    EXPECT_NE(second.back().find(jsonEscape(utf8(dir.path() / "second"))), std::string::npos);
    EXPECT_NE(second.back().find("\"error\":\"" + c.secondError + "\"}"), std::string::npos);
    if (!c.secondLandsAt.empty()) {
      EXPECT_EQ(readBytes(dst / c.secondLandsAt), "second");
    }
    EXPECT_EQ(entriesUnder(dst).size(), c.secondLandsAt.empty() ? 1u : 2u);
  }
}

// Direct writes, verified or not, leave no staging file in either form of
// the system copier.
TEST(CopyJob, DirectWriteAndSuppressedCompletedEvents) {
  struct Case {
    const char* name;
    uint32_t flags;
    uint8_t mode;
    size_t completedEvents;
  };
  // Without verification a staged item still reports its rename.
  const std::vector<Case> cases = {
      {"staged", kSmallFileReadAhead, 0, 4},
      {"direct", kDirectWrite, 0, 0},
      {"direct, verified", kDirectWrite | kSmallFileReadAhead, 3, 0},
      {"verified", kSmallFileReadAhead, 2, 0},
  };
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  makeFile(src / "a", 10, 1);
  makeFile(src / "b", 20, 2);
  makeFile(src / "c", kThreshold + 5, 3);
  makeFile(src / "d", kSmallFormLimit + 1, 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dst = dir.path() / c.name;
    RequestFields fields = copyOf(src, dst, c.flags | kSuppressCompletedEvents);
    fields.verificationMode = c.mode;
    const JobOutput job = runJob(dir, fields);
    EXPECT_EQ(job.exitCode, 0);
    EXPECT_EQ(job.items("completed").size(), c.completedEvents);
    EXPECT_EQ(job.total("completedFiles"), 4);
    expectSameTree(src, dst / "src");
    EXPECT_EQ(stagingFilesUnder(dst), std::vector<std::string>{});
  }
}

TEST(CopyJob, PreservesTimesAndAttributesOfFilesAndFolders) {
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  makeFile(src / "ro/small.txt", 100, 1);
  makeFile(src / "ro/large.bin", kSmallFormLimit + 1, 2);
  makeFile(src / "ro/inner/plain.txt", 5, 3);
  const auto base = fs::file_time_type::clock::now() - std::chrono::hours(24 * 800);
  int step = 0;
  for (const char* name : {"ro/small.txt", "ro/large.bin", "ro/inner/plain.txt"}) {
    fs::last_write_time(src / name, base + std::chrono::minutes(++step) +
                                        std::chrono::microseconds(123457));
  }
  // The standard library cannot set a folder's times everywhere (not on
  // Windows); the folders take their times from files through the system.
  setTimesLike(src / "ro/inner", src / "ro/large.bin");
  setTimesLike(src / "ro", src / "ro/small.txt");
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read;
  fs::permissions(src / "ro/small.txt", readOnly);
  fs::permissions(src / "ro/large.bin", readOnly);
  fs::permissions(src / "ro", readOnly | fs::perms::owner_exec | fs::perms::group_exec);

  const fs::path dst = dir.path() / "dst";
  const JobOutput job = runJob(dir, copyOf(src, dst,
                                     kSmallFileReadAhead | kPreserveTimestamps | kPreserveAttributes));
  EXPECT_EQ(job.exitCode, 0);
  EXPECT_NE(job.complete().find("\"errors\":\"\"}"), std::string::npos);
  for (const char* name : {"ro/small.txt", "ro/large.bin", "ro/inner/plain.txt", "ro/inner",
                           "ro"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(fs::last_write_time(dst / "src" / name), fs::last_write_time(src / name));
    EXPECT_EQ(fs::status(dst / "src" / name).permissions(),
              fs::status(src / name).permissions());
  }
  fs::permissions(src / "ro", fs::perms::owner_all, fs::perm_options::add);
  fs::permissions(dst / "src/ro", fs::perms::owner_all, fs::perm_options::add);
  expectSameTree(src, dst / "src");
}

TEST(CopyJob, FolderThatCannotBeCreatedFailsOnceAndItsFilesFail) {
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  makeFile(src / "sub/f1", 10, 1);
  makeFile(src / "sub/f2", 10, 2);
  makeFile(src / "ok.txt", 10, 3);
  const fs::path dst = dir.path() / "dst";
  fs::create_directories(dst / "src");
  writeBytes(dst / "src/sub", "a file where the folder goes");
  const JobOutput job = runJob(dir, copyOf(src, dst, kSmallFileReadAhead));
  EXPECT_EQ(job.exitCode, 2);
  EXPECT_EQ(job.total("failedFiles"), 3);  // the folder and its two files
  EXPECT_EQ(job.items("failed").size(), 2u);
  EXPECT_EQ(job.total("completedFiles"), 1);
  const std::string& complete = job.complete();
  const std::string line = jsonEscape(utf8(src / "sub") + " -> " + utf8(dst / "src" / "sub") +
                                    ": Unable to create destination directory: ");
  EXPECT_NE(complete.find(line), std::string::npos);
  EXPECT_EQ(complete.find(line), complete.rfind(line));
  EXPECT_EQ(readBytes(dst / "src/sub"), "a file where the folder goes");
  EXPECT_EQ(readBytes(dst / "src/ok.txt"), readBytes(src / "ok.txt"));
  EXPECT_EQ(stagingFilesUnder(dst), std::vector<std::string>{});
}

// ---- control ----

// Copy-phase progress lines of the output so far.
std::vector<std::string> copyProgress(const std::string& out) {
  return parseJob(0, out).progress("copy");
}

TEST(CopyControl, CancelStopsAGibibyteCopyWithinASecond) {
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  fs::create_directories(src);
  writeBytes(src / "huge.bin", "");
  fs::resize_file(src / "huge.bin", uint64_t{1} << 30);
  const fs::path dst = dir.path() / "dst";
  writeBytes(dir.path() / "r.bin", writeRequest(copyOf(src, dst)));

  Subprocess worker(workerPath(), {"--request", dir.text("r.bin")});
  const bool copying = worker.waitForOutput(
      [](const std::string& out) {
        for (const std::string& line : copyProgress(out)) {
          if (eventNumber(line, "processedBytes") > 0) return true;
        }
        return false;
      },
      std::chrono::seconds(60));
  ASSERT_TRUE(copying) << worker.out();
  const auto cancelledAt = std::chrono::steady_clock::now();
  worker.write("cancel\n");
  const int exitCode = worker.wait(std::chrono::seconds(30));
  EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, std::chrono::seconds(1));
  EXPECT_EQ(exitCode, 0);
  const JobOutput job = parseJob(exitCode, worker.out());
  const std::vector<std::string> copy = job.progress("copy");
  ASSERT_FALSE(copy.empty());
  EXPECT_NE(copy.back().find("\"message\":\"Copy cancelled.\""), std::string::npos);
  EXPECT_NE(job.complete().find("\"cancelled\":true"), std::string::npos);
  EXPECT_EQ(job.items("failed").size() + job.items("completed").size(), 0u);
  EXPECT_EQ(stagingFilesUnder(dst), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(dst / "src/huge.bin"));
}

TEST(CopyControl, PauseHoldsEveryWorkerAndResumeCompletes) {
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  for (int i = 0; i < 30; ++i) makeFile(src / ("f" + std::to_string(i)), 5000, i + 1);
  writeBytes(src / "large.bin", "");
  fs::resize_file(src / "large.bin", uint64_t{256} << 20);
  const fs::path dst = dir.path() / "dst";
  writeBytes(dir.path() / "r.bin", writeRequest(copyOf(src, dst, kSmallFileReadAhead)));

  Subprocess worker(workerPath(), {"--request", dir.text("r.bin")});
  // The copy phase's first event comes before its workers start.
  ASSERT_TRUE(worker.waitForOutput(
      [](const std::string& out) { return !copyProgress(out).empty(); },
      std::chrono::seconds(30)));
  worker.write("pause\n");
  auto pausedEvents = [](const std::string& out) {
    std::vector<int64_t> processed;
    for (const std::string& line : copyProgress(out)) {
      if (line.find("\"message\":\"Paused\"") != std::string::npos) {
        processed.push_back(eventNumber(line, "processedBytes"));
      }
    }
    return processed;
  };
  ASSERT_TRUE(worker.waitForOutput(
      [&](const std::string& out) { return pausedEvents(out).size() >= 4; },
      std::chrono::seconds(30)))
      << worker.out();
  // The first "Paused" event may still see a small file in hand finish.
  const std::vector<int64_t> processed = pausedEvents(worker.out());
  for (size_t i = 2; i < processed.size(); ++i) EXPECT_EQ(processed[i], processed[1]);
  EXPECT_LT(processed.back(), static_cast<int64_t>((uint64_t{256} << 20) + 30 * 5000));
  worker.write("resume\n");
  worker.closeInput();
  EXPECT_EQ(worker.wait(std::chrono::seconds(60)), 0);
  const JobOutput job = parseJob(0, worker.out());
  EXPECT_EQ(job.total("completedFiles"), 31);
  EXPECT_EQ(entriesUnder(src), entriesUnder(dst / "src"));
  for (int i = 0; i < 30; ++i) {
    const std::string name = "f" + std::to_string(i);
    EXPECT_TRUE(sameBytes(src / name, dst / "src" / name)) << name;
  }
  EXPECT_EQ(fs::file_size(dst / "src/large.bin"), uint64_t{256} << 20);
}

}  // namespace
}  // namespace qv::test
