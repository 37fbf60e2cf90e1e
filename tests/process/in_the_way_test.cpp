// What sits where the worker writes. An older file at the destination is
// kept, replaced or passed by as the conflict policy says. A symbolic link
// planted there, or at a staging path, must never be written through: the
// file the link leads to stays as it was, and a link to nothing never brings
// its target into being.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "support/worker_run.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using namespace tools;

constexpr uint64_t kSmallFormLimit = 16777216;
const char kVictimBytes[] = "the victim's own bytes, which no copy may change";

struct Case {
  const char* name;
  bool atStagingPath;  // else at the destination
  uint8_t policy;
  uint32_t flags;
  uint64_t size;
  const char* landing;  // the file name the copy lands at; empty when skipped
};

const Case kCases[] = {
    {"read-ahead staging file", true, 0, kSmallFileReadAhead, 1000, "f.bin"},
    {"small-form staging file", true, 0, 0, 300000, "f.bin"},
    {"large-form staging file", true, 0, 0, kSmallFormLimit + 1, "f.bin"},
    {"destination, skip", false, 0, 0, 1000, ""},
    {"destination, overwrite", false, 1, 0, 1000, "f.bin"},
    {"destination, rename", false, 2, 0, 1000, "f (1).bin"},
    {"destination, direct overwrite", false, 1, kDirectWrite, 1000, "f.bin"},
    {"destination, direct overwrite, large form", false, 1, kDirectWrite, kSmallFormLimit + 1,
     "f.bin"},
};

enum class Planted { OlderFile, Link, DanglingLink };

// False where this system or its account cannot make links, or shows them
// as the files they lead to (Wine shows a host link that way).
bool makeLink(const fs::path& target, const fs::path& link) {
  std::error_code ec;
  fs::create_symlink(target, link, ec);
  FileInfo info;
  return !ec && systemPlatform().queryPath(link.u16string(), LinkMode::NoFollow, info) == 0 &&
         info.isLink;
}

// Runs the job with a staging-path link planted while the worker holds at
// the pause gate: the staging name carries the worker's process id. "pause"
// is in the pipe before the worker starts, but a loaded machine may still
// let the copy begin, or even end, first; such a run proves nothing and is
// repeated.
bool runWithStagingLink(const ScratchDir& dir, const fs::path& dst, const fs::path& victim,
                        ProcessResult& run) {
  for (int tries = 0; tries < 3; ++tries) {
    fs::remove_all(dst);
    fs::create_directories(dst);
    Subprocess worker(workerPath(), {"--request", dir.text("r.bin")});
    worker.write("pause\n");
    const bool planted =
        worker.waitForOutput(outputHas("\"message\":\"Paused\""), std::chrono::seconds(30)) &&
        stagingFilesUnder(dst).empty() && parseJob(0, worker.out()).items().empty() &&
        makeLink(victim, dst / ("f.bin.qv-native-partial-" + std::to_string(worker.pid()) + "-0"));
    worker.write("resume\n");
    worker.closeInput();
    run.exitCode = worker.wait(std::chrono::seconds(120));
    run.out = worker.out();
    if (planted) return true;
  }
  ADD_FAILURE() << "the copy started before the pause took hold, three times";
  return false;
}

TEST(InTheWay, OlderFilesFollowThePolicyAndLinksAreNeverWrittenThrough) {
  ScratchDir probe;
  const bool links = makeLink(probe.path() / "missing", probe.path() / "link");
  for (const Case& c : kCases) {
    for (const Planted planted : {Planted::OlderFile, Planted::Link, Planted::DanglingLink}) {
      if (planted == Planted::OlderFile ? c.atStagingPath : !links) continue;
      const char* const kinds[] = {"an older file", "a link to a file", "a dangling link"};
      SCOPED_TRACE(std::string(c.name) + ", " + kinds[static_cast<int>(planted)]);
      ScratchDir dir;
      const std::string data = patternBytes(static_cast<size_t>(c.size), 7);
      writeBytes(dir.path() / "src.bin", data);
      writeBytes(dir.path() / "other.bin", "other");
      const fs::path dst = dir.path() / "dst";
      fs::create_directories(dst);
      // An older file is its own victim.
      const fs::path victim = planted == Planted::OlderFile ? dst / "f.bin" : dir.path() / "victim";
      if (planted != Planted::DanglingLink) writeBytes(victim, kVictimBytes);

      RequestFields fields;
      fields.conflictPolicy = c.policy;
      fields.optionFlags = kPrePlanned | c.flags;
      // Verified, so a skipped file that were checked anyway would fail.
      fields.verificationMode = 3;
      fields.destinationRoot = utf8(dst);
      // Read-ahead runs only with a reader and a writer, and a job gets no
      // more threads than files.
      fields.workerCount = 2;
      // Named as the host shows them, read from where they are.
      fields.files = {{"shown/src.bin", dir.text("src.bin"), utf8(dst / "f.bin"), c.size, 0},
                      {"shown/other.bin", dir.text("other.bin"), utf8(dst / "other.bin"), 5, 0}};
      fields.directories = {{"shown/folder", dir.text(""), utf8(dst / "folder")}};
      writeBytes(dir.path() / "r.bin", writeRequest(fields));

      ProcessResult run;
      if (c.atStagingPath) {
        if (!runWithStagingLink(dir, dst, victim, run)) continue;
      } else {
        ASSERT_TRUE(planted == Planted::OlderFile || makeLink(victim, dst / "f.bin"));
        run = runWorkerOn(dir, writeRequest(fields));
      }

      EXPECT_EQ(run.exitCode, 0) << run.out;
      const JobOutput job = parseJob(run.exitCode, run.out);
      EXPECT_EQ(job.lines.at(1), scanCompleteLine(c.size + 5, 2));
      std::vector<std::string> items = job.items();
      ASSERT_EQ(items.size(), 2u) << run.out;
      const std::string shown = "\"source\":\"shown/src.bin\"";
      const std::string item = items[0].find(shown) != std::string::npos ? items[0] : items[1];
      EXPECT_EQ(eventField(item, "status"), *c.landing ? "completed" : "skipped") << item;
      EXPECT_EQ(eventField(item, "error"), "") << item;
      const std::string landing = c.landing;
      if (!landing.empty()) {
        EXPECT_NE(item.find(landing + "\""), std::string::npos) << item;
        EXPECT_FALSE(fs::is_symlink(dst / landing));
        EXPECT_TRUE(readBytes(dst / landing) == data) << "the copy differs from its source";
      }
      // What the copy did not land on stays as it was: the victim unchanged
      // (or still absent), and a link still a link.
      if (planted != Planted::OlderFile || landing != "f.bin") {
        EXPECT_TRUE(planted == Planted::DanglingLink ? !fs::exists(fs::symlink_status(victim))
                                                     : readBytes(victim) == kVictimBytes);
      }
      EXPECT_TRUE(planted == Planted::OlderFile || c.atStagingPath || landing == "f.bin" ||
                  fs::is_symlink(dst / "f.bin"));
      EXPECT_EQ(readBytes(dst / "other.bin"), "other");
      EXPECT_TRUE(fs::is_directory(dst / "folder"));
      EXPECT_EQ(stagingFilesUnder(dst), std::vector<std::string>{});
    }
  }
}

}  // namespace
}  // namespace qv::test
