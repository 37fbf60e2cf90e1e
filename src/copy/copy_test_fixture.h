// A copy engine on a fault-injecting platform over the real one, with its
// events captured, for the unit tests of src/copy. Files live in a scratch
// folder of the real file system.
#ifndef QV_COPY_COPY_TEST_FIXTURE_H_
#define QV_COPY_COPY_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "copy/copy_context.h"
#include "frame/event_text.h"
#include "paths/destination_planning.h"
#include "support/captured_job.h"
#include "support/fault_platform.h"
#include "support/worker_run.h"

namespace qv::test {

inline void appendTo(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// One job's worth of engine state, without retries unless a test asks.
struct CopyHarness : CapturedJob {
  CopyHarness() : CapturedJob(platform) { request.retryCount = 0; }

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
  SysError diskFull() const { return platform.diskFullError(); }

  // The copier calls and the file counters, in one line: the first four
  // always, the others only when they are not zero.
  std::string tally() const {
    std::string out = "copier calls " + std::to_string(platform.calls(Op::CopySmallFile) +
                                                   platform.calls(Op::CopyLargeFile));
    const std::pair<const char*, uint64_t> counts[] = {
        {"copied", counters.copiedFiles},         {"completed", counters.completedFiles},
        {"failed", counters.failedFiles},         {"verified", counters.verifiedFiles},
        {"verify failed", counters.verifyFailedFiles}, {"verified bytes", counters.verifiedBytes},
        {"in flight", counters.inFlightBytes},    {"active", counters.activeWorkers},
        {"retry queue", counters.retryQueue}};
    for (size_t i = 0; i < std::size(counts); ++i) {
      if (i < 3 || counts[i].second != 0) {
        out += std::string(", ") + counts[i].first + " " + std::to_string(counts[i].second);
      }
    }
    return out;
  }

  // The item failed with `message` and left nothing behind: one event, one
  // error line, no staging file and no destination.
  void expectOnlyFailure(uint32_t index, const std::string& message) {
    EXPECT_EQ(output.items(), std::vector<std::string>{itemEvent("failed", index, message)});
    EXPECT_EQ(errors.escapedForEvent(), errorLine(index, message));
    EXPECT_EQ(stagingFiles(), std::vector<std::string>{});
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(plan.files[index].destinationPath)));
  }
  // The item, the job's only one, was copied whole and committed, with
  // nothing left over.
  void expectCompleted(uint32_t index) {
    EXPECT_EQ(counters.copiedBytes.load(), plan.files[index].size);
    EXPECT_EQ(output.items(), std::vector<std::string>{itemEvent("completed", index, "")});
    EXPECT_EQ(errors.escapedForEvent(), "");
    EXPECT_EQ(stagingFiles(), std::vector<std::string>{});
    EXPECT_EQ(readBytes(std::filesystem::path(plan.files[index].destinationPath)),
              readBytes(std::filesystem::path(plan.files[index].sourcePath)));
  }

  ScratchDir dir;
  FaultPlatform platform{systemPlatform()};
  DestinationPlanner planner{job};
  CopyContext copy{job, planner};
};

using Arrange = std::function<SysError(CopyHarness&)>;

// An arrangement that reports no system code of its own.
inline Arrange changing(std::function<void(CopyHarness&)> change) {
  return [change](CopyHarness& h) {
    change(h);
    return SysError{0};
  };
}

// An arrangement under which every call `op` fails for a full disk, with
// `options` added to the request.
inline Arrange refusing(Op op, uint32_t options = 0) {
  return [op, options](CopyHarness& h) {
    h.request.optionFlags |= options;
    h.platform.failCalls(op, h.diskFull());
    return h.diskFull();
  };
}

// The outcome of a file the job's cancel caught: no event, nothing left.
inline const std::string kSilent = "(nothing reported)";

// A job of one file, "src/f" of `size` bytes copied to "dst/f", under
// faults, and how it must end: completed when `message` is empty, kSilent,
// or failed with `message` followed by the text of the code `arrange`
// returns unless that is 0; with the copier calls and counters `tally`.
struct ItemCase {
  const char* name;
  Arrange arrange;
  std::string message;
  std::string tally;
  uint64_t size = 10;
};

// Runs each case on a harness of its own; `run(h, index)` is the engine
// step under test.
template <typename Run>
void expectItemCases(const std::vector<ItemCase>& cases, Run run) {
  for (const ItemCase& c : cases) {
    SCOPED_TRACE(c.name);
    CopyHarness h;
    const uint32_t index = h.planFile("src/f", patternBytes(c.size), "dst/f");
    const SysError code = c.arrange(h);
    run(h, index);
    EXPECT_EQ(h.tally(), c.tally);
    if (c.message.empty()) {
      h.expectCompleted(index);
    } else if (c.message == kSilent) {
      EXPECT_EQ(h.output.items(), std::vector<std::string>{});
      EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
      EXPECT_FALSE(std::filesystem::exists(h.at("dst/f")));
    } else {
      h.expectOnlyFailure(index, c.message + (code != 0 ? h.text(code) : ""));
    }
  }
}

}  // namespace qv::test

#endif  // QV_COPY_COPY_TEST_FIXTURE_H_
