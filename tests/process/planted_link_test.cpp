// A symbolic link planted where the worker writes (a staging path, or the
// destination under each conflict policy) must never be written through:
// the file the link leads to stays as it was, and a link to nothing never
// brings its target into being.
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
using tools::RequestFields;
using tools::writeRequest;

using tools::kDirectWrite;
using tools::kPrePlanned;
using tools::kSmallFileReadAhead;
constexpr uint64_t kSmallFormLimit = 16777216;

const char kVictimBytes[] = "the victim's own bytes, which no copy may change";

enum class Plant { StagingPath, Destination };

struct Case {
  const char* name;
  Plant where;
  uint8_t policy;
  uint32_t flags;
  uint64_t size;
  const char* status;   // the one item event's status
  const char* landing;  // the file name the copy lands at; empty when skipped
};

const Case kCases[] = {
    {"read-ahead staging file", Plant::StagingPath, 0, kSmallFileReadAhead, 1000, "completed",
     "f.bin"},
    {"small-form staging file", Plant::StagingPath, 0, 0, 300000, "completed", "f.bin"},
    {"large-form staging file", Plant::StagingPath, 0, 0, kSmallFormLimit + 1, "completed",
     "f.bin"},
    {"destination, skip", Plant::Destination, 0, 0, 1000, "skipped", ""},
    {"destination, overwrite", Plant::Destination, 1, 0, 1000, "completed", "f.bin"},
    {"destination, rename", Plant::Destination, 2, 0, 1000, "completed", "f (1).bin"},
    {"destination, direct overwrite", Plant::Destination, 1, kDirectWrite, 1000, "completed",
     "f.bin"},
    {"destination, direct overwrite, large form", Plant::Destination, 1, kDirectWrite,
     kSmallFormLimit + 1, "completed", "f.bin"},
};

// False where this system or its account cannot make links, or shows them
// as the files they lead to (Wine shows a host link that way).
bool makeLink(const fs::path& target, const fs::path& link) {
  std::error_code ec;
  fs::create_symlink(target, link, ec);
  if (ec) return false;
  FileInfo info;
  return systemPlatform().queryPath(link.u16string(), LinkMode::NoFollow, info) == 0 &&
         info.isLink;
}

// The item events of the file copied from src.bin.
std::vector<std::string> srcItems(const std::string& out) {
  std::vector<std::string> items;
  for (const std::string& line : parseJob(0, out).items()) {
    if (line.find("src.bin\",") != std::string::npos) items.push_back(line);
  }
  return items;
}

bool isPaused(const std::string& out) {
  return out.find("\"message\":\"Paused\"") != std::string::npos;
}

struct JobRun {
  int exitCode = -1;
  std::string out;
};

// Runs the job with a staging-path link planted while the worker holds at
// the pause gate: the staging name carries the worker's process id. "pause"
// is in the pipe before the worker starts, but a loaded machine may still
// let the copy begin first; such a run proves nothing and is repeated.
bool runWithStagingLink(const ScratchDir& dir, const fs::path& dst, const fs::path& victim,
                        JobRun& run) {
  for (int tries = 0; tries < 3; ++tries) {
    fs::remove_all(dst);
    fs::create_directories(dst);
    Subprocess worker(workerPath(), {"--request", dir.text("r.bin")});
    worker.write("pause\n");
    if (!worker.waitForOutput(isPaused, std::chrono::seconds(30))) {
      ADD_FAILURE() << "the job never paused: " << worker.out();
      return false;
    }
    const bool untouched = fs::is_empty(dst) && parseJob(0, worker.out()).items().empty();
    const fs::path staging =
        dst / ("f.bin.qv-native-partial-" + std::to_string(worker.pid()) + "-0");
    const bool planted = untouched && makeLink(victim, staging);
    worker.write("resume\n");
    worker.closeInput();
    run.exitCode = worker.wait(std::chrono::seconds(120));
    run.out = worker.out();
    if (planted) return true;
  }
  ADD_FAILURE() << "the copy started before the pause took hold, three times";
  return false;
}

TEST(PlantedLink, IsNeverWrittenThrough) {
  {
    ScratchDir probe;
    if (!makeLink(probe.path() / "missing", probe.path() / "link")) {
      GTEST_SKIP() << "no symbolic links here";
    }
  }
  for (const Case& c : kCases) {
    for (const bool dangling : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (dangling ? ", dangling link" : ", link to a file"));
      ScratchDir dir;
      const std::string data = patternBytes(static_cast<size_t>(c.size), 7);
      writeBytes(dir.path() / "src.bin", data);
      const fs::path victim = dir.path() / "victim.bin";
      if (!dangling) writeBytes(victim, kVictimBytes);
      const fs::path dst = dir.path() / "dst";

      RequestFields fields;
      fields.conflictPolicy = c.policy;
      fields.optionFlags = kPrePlanned | c.flags;
      fields.destinationRoot = utf8(dst);
      fields.files = {{utf8(dir.path() / "src.bin"), "", utf8(dst / "f.bin"), c.size, 0}};
      // Read-ahead runs only with a reader and a writer, and a job gets no
      // more threads than files.
      fields.workerCount = 2;
      writeBytes(dir.path() / "other.bin", "other");
      fields.files.push_back({utf8(dir.path() / "other.bin"), "", utf8(dst / "other.bin"), 5, 0});
      writeBytes(dir.path() / "r.bin", writeRequest(fields));

      JobRun run;
      if (c.where == Plant::StagingPath) {
        if (!runWithStagingLink(dir, dst, victim, run)) continue;
      } else {
        fs::create_directories(dst);
        ASSERT_TRUE(makeLink(victim, dst / "f.bin"));
        const ProcessResult result = runWorkerOn(dir, writeRequest(fields));
        run = {result.exitCode, result.out};
      }

      EXPECT_EQ(run.exitCode, 0) << run.out;
      if (dangling) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(victim)));
      } else {
        const std::string now = readBytes(victim);
        EXPECT_TRUE(now == kVictimBytes) << "the victim now holds " << now.size() << " bytes";
      }
      const std::vector<std::string> items = srcItems(run.out);
      ASSERT_EQ(items.size(), 1u) << run.out;
      EXPECT_EQ(eventField(items[0], "status"), c.status) << items[0];
      EXPECT_EQ(eventField(items[0], "error"), "") << items[0];

      const std::string landing = c.landing;
      if (!landing.empty()) {
        EXPECT_NE(items[0].find(landing + "\""), std::string::npos) << items[0];
        EXPECT_FALSE(fs::is_symlink(dst / landing));
        EXPECT_TRUE(readBytes(dst / landing) == data) << "the copy differs from its source";
      }
      // A link the copy did not land on stays as it was planted.
      if (c.where == Plant::Destination && landing != "f.bin") {
        EXPECT_TRUE(fs::is_symlink(dst / "f.bin"));
      }
      EXPECT_EQ(readBytes(dst / "other.bin"), "other");
      EXPECT_EQ(stagingFilesUnder(dst), std::vector<std::string>{});
    }
  }
}

}  // namespace
}  // namespace qv::test
