// A copy engine on a fault-injecting platform over the real one, with its
// events captured, for the unit tests of src/copy. Files live in a scratch
// folder of the real file system.
#ifndef QV_COPY_COPY_TEST_FIXTURE_H_
#define QV_COPY_COPY_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <fstream>
#include <filesystem>
#include <string>
#include <vector>

#include "copy/copy_context.h"
#include "frame/event_text.h"
#include "paths/destination_planning.h"
#include "support/captured_job.h"
#include "support/fault_platform.h"
#include "support/worker_run.h"

namespace qv::test {

inline void appendTo(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::app);
  file << bytes;
}

// One job's worth of engine state. Table-driven tests make one per case.
struct CopyHarness : CapturedJob {
  CopyHarness() : CapturedJob(platform) {}

  std::filesystem::path at(const std::string& name) const {
    return dir.path() / std::filesystem::u8path(name);
  }

  // Writes `bytes` to source `name` and plans its copy to `destination`
  // with the size and last-write time the file has now.
  uint32_t planFile(const std::string& name, const std::string& bytes,
                const std::string& destination) {
    std::filesystem::create_directories(at(name).parent_path());
    std::filesystem::create_directories(at(destination).parent_path());
    writeBytes(at(name), bytes);
    FileInfo info;
    EXPECT_EQ(platform.queryPath(u16(at(name)), LinkMode::NoFollow, info), 0u);
    PlannedFile file;
    file.sourcePath = u16(at(name));
    file.readPath = file.sourcePath;
    file.destinationPath = u16(at(destination));
    file.size = info.size;
    file.lastWriteTime = info.lastWriteTime.ticks;
    plan.files.push_back(file);
    return static_cast<uint32_t>(plan.files.size() - 1);
  }

  std::vector<std::string> stagingFiles() const { return stagingFilesUnder(dir.path()); }

  std::string itemEvent(const char* status, uint32_t index, const std::string& error) {
    const PlannedFile& item = plan.files[index];
    return std::string("{\"type\":\"item\",\"status\":\"") + status + "\",\"source\":\"" +
           jsonEscape(toUtf8(item.sourcePath)) + "\",\"destination\":\"" +
           jsonEscape(toUtf8(item.destinationPath)) + "\",\"size\":" +
           std::to_string(item.size) + ",\"error\":\"" + jsonEscape(error) + "\"}";
  }
  std::string errorLine(uint32_t index, const std::string& error) {
    const PlannedFile& item = plan.files[index];
    return jsonEscape(toUtf8(item.sourcePath) + " -> " + toUtf8(item.destinationPath) +
                      ": " + error);
  }
  std::string text(SysError code) { return job.errorText(code); }

  // The item failed with `message` and nothing else happened: one event,
  // one error line, no copy counted, no staging file and no destination.
  void expectOnlyFailure(uint32_t index, const std::string& message) {
    EXPECT_EQ(counters.failedFiles.load(), 1u);
    EXPECT_EQ(counters.copiedFiles.load(), 0u);
    EXPECT_EQ(counters.completedFiles.load(), 0u);
    EXPECT_EQ(counters.copiedBytes.load(), 0u);
    EXPECT_EQ(counters.inFlightBytes.load(), 0u);
    EXPECT_EQ(counters.activeWorkers.load(), 0u);
    EXPECT_EQ(output.items(), std::vector<std::string>{itemEvent("failed", index, message)});
    EXPECT_EQ(errors.escapedForEvent(), errorLine(index, message));
    EXPECT_EQ(stagingFiles(), std::vector<std::string>{});
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(
        plan.files[index].destinationPath)));
  }
  SysError diskFull() const { return platform.diskFullError(); }

  ScratchDir dir;
  FaultPlatform platform{systemPlatform()};
  DestinationPlanner planner{job};
  CopyContext copy{job, planner};
};

}  // namespace qv::test

#endif  // QV_COPY_COPY_TEST_FIXTURE_H_
