// Verify-only jobs on real files through the built worker: the outcome of
// each mode, the exact "complete" event and error list, and what cancel and
// pause do to a running check.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "frame/event_text.h"
#include "support/worker_run.h"

namespace qv::test {
namespace {

using tools::FileEntryFields;
using tools::RequestFields;
using tools::writeRequest;

const char kMissing[] = "The source or destination is missing.";
const char kLength[] = "Verification found a file-length mismatch.";
const char kDifferent[] = "Verification found different file data.";
const char kUnsupported[] = "Unsupported verification mode.";

RequestFields verifyJob(uint8_t mode, std::vector<FileEntryFields> files) {
  RequestFields fields;
  fields.verifyOnly = 1;
  fields.verificationMode = mode;
  fields.files = std::move(files);
  return fields;
}

// The phase's last event, just before "complete": its fixed members.
void expectLastVerifyEvent(const JobOutput& o, const std::string& message, uint64_t bytes,
                           uint32_t files, uint32_t failed, uint32_t workers) {
  ASSERT_GE(o.lines.size(), 3u);
  const std::string& last = o.lines[o.lines.size() - 2];
  EXPECT_EQ(last.rfind("{\"type\":\"progress\",\"phase\":\"verify\",", 0), 0u);
  EXPECT_EQ(eventField(last, "message"), message);
  EXPECT_EQ(eventField(last, "totalBytes"), std::to_string(bytes));
  EXPECT_EQ(eventField(last, "processedBytes"), std::to_string(bytes));
  EXPECT_EQ(eventField(last, "totalFiles"), std::to_string(files));
  EXPECT_EQ(eventField(last, "completedFiles"), std::to_string(files));
  EXPECT_EQ(eventField(last, "failedFiles"), std::to_string(failed));
  EXPECT_EQ(eventField(last, "activeWorkers"), "0");
  EXPECT_EQ(eventField(last, "targetWorkers"), std::to_string(workers));
  EXPECT_EQ(eventField(last, "queueDepth"), "0");
}

// Each mode against a passing copy and failing ones; the window boundaries
// and the buffer sizes are checked on the check itself (a unit test).
TEST(VerifyOnly, EveryModePassesAndFailsAsReported) {
  ScratchDir dir;
  const std::string bytes = patternBytes(1 << 20);
  std::string far = bytes;  // differs outside the sampled windows
  far[300000] ^= 1;
  writeBytes(dir.path() / "s", bytes);
  writeBytes(dir.path() / "same", bytes);
  writeBytes(dir.path() / "far", far);
  for (const char* name : {"first", "middle", "last"}) {
    std::string copy = bytes;
    const size_t at = name[0] == 'f' ? 10 : name[0] == 'm' ? (bytes.size() - 65536) / 2 + 5
                                                           : bytes.size() - 1;
    copy[at] ^= 0x80;
    writeBytes(dir.path() / name, copy);
  }
  const uint64_t size = bytes.size();
  const std::string s = dir.text("s");
  auto item = [&](const char* destination, uint64_t recorded = 0) {
    return FileEntryFields{s, "", dir.text(destination), recorded ? recorded : size, 0};
  };

  struct Case {
    uint8_t mode;
    std::vector<FileEntryFields> files;
    std::vector<std::string> errors;  // per item, "" for a pass
  };
  const std::string crc = "CRC32 verification failed.";
  const std::string sha = "SHA-256 verification failed.";
  const std::vector<Case> cases = {
      {1, {item("far"), item("first"), item("middle"), item("last"), item("same")},
       {"", kDifferent, kDifferent, kDifferent, ""}},
      {2, {item("far"), item("same")}, {crc, ""}},
      {3, {item("far"), item("same")}, {sha, ""}},
      {4, {item("far"), item("same")}, {kDifferent, ""}},
      // The existence and length checks come before any mode.
      {0, {item("absent"), item("same", size + 1), item("far")}, {kMissing, kLength, ""}},
      {9, {item("absent"), item("same", size - 1), item("same")},
       {kMissing, kLength, kUnsupported}},
  };
  for (const Case& c : cases) {
    RequestFields fields = verifyJob(c.mode, c.files);
    // One worker: items finish, and errors are listed, in request order.
    fields.workerCount = 1;
    const JobOutput o = runJob(dir, fields);
    uint32_t failed = 0;
    uint64_t total = 0;
    std::string errors;
    ASSERT_EQ(o.items().size(), c.files.size()) << int{c.mode};
    for (size_t i = 0; i < c.files.size(); ++i) {
      const FileEntryFields& f = c.files[i];
      total += f.size;
      const std::string expected =
          "{\"type\":\"item\",\"status\":\"" +
          std::string(c.errors[i].empty() ? "completed" : "failed") + "\",\"source\":\"" +
          jsonEscape(f.sourcePath) + "\",\"destination\":\"" + jsonEscape(f.destinationPath) +
          "\",\"size\":" + std::to_string(f.size) + ",\"error\":\"" + c.errors[i] + "\"}";
      EXPECT_EQ(o.items()[i], expected) << int{c.mode} << " item " << i;
      if (c.errors[i].empty()) continue;
      ++failed;
      if (!errors.empty()) errors += "\\n";
      errors += jsonEscape(f.sourcePath + " -> " + f.destinationPath + ": " + c.errors[i]);
    }
    const uint32_t count = static_cast<uint32_t>(c.files.size());
    EXPECT_EQ(o.exitCode, failed ? 2 : 0) << int{c.mode};
    EXPECT_EQ(o.complete(), completeLine(total, count, count - failed, failed, false, errors))
        << int{c.mode};
    expectLastVerifyEvent(o, "Verification complete.", total, count, failed, 1);
    // Nothing but the phase's progress, its items and the two frame events.
    EXPECT_EQ(o.lines.front(), kHelloLine);
    EXPECT_EQ(o.lines.size(), 2 + o.items().size() + o.progress("verify").size());
  }
}

// Waits for the first progress event that shows `workers` items in hand,
// then sends `command`.
void sendWhenBusy(Subprocess& worker, uint32_t workers, const std::string& command) {
  const std::string busy = "\"activeWorkers\":" + std::to_string(workers) + ",";
  ASSERT_TRUE(worker.waitForOutput(
      [&](const std::string& out) { return out.find(busy) != std::string::npos; },
      std::chrono::seconds(20)))
      << worker.out();
  worker.write(command);
}

TEST(VerifyOnly, ACancelFailsTheItemsInHandAndLeavesTheRestSilent) {
  ScratchDir dir;
  // Sparse files: large enough that 256-byte chunks keep both workers busy
  // for seconds, with nothing written to disk.
  const uint64_t size = uint64_t{256} << 20;
  for (const char* name : {"a", "b"}) {
    writeBytes(dir.path() / name, "");
    std::filesystem::resize_file(dir.path() / name, size);
  }
  const FileEntryFields a{dir.text("a"), "", dir.text("b"), size, 0};
  const FileEntryFields b{dir.text("b"), "", dir.text("a"), size, 0};
  RequestFields fields = verifyJob(4, {a, b, a, b});
  fields.workerCount = 2;
  fields.bufferSize = 256;
  writeBytes(dir.path() / "r.bin", writeRequest(fields));

  Subprocess worker(workerPath(), {"--request", dir.text("r.bin")});
  sendWhenBusy(worker, 2, "cancel\n");
  const int exitCode = worker.wait(std::chrono::seconds(60));
  const JobOutput o = parseJob(exitCode, worker.out());
  EXPECT_EQ(worker.err(), "");

  EXPECT_EQ(o.exitCode, 2);
  ASSERT_EQ(o.items().size(), 2u) << worker.out();
  std::set<std::string> errors;
  for (const std::string& item : o.items()) {
    EXPECT_EQ(eventField(item, "status"), "failed");
    EXPECT_EQ(eventField(item, "error"), "Cancelled.");
    errors.insert(jsonEscape(eventField(item, "source") == jsonEscape(a.sourcePath)
                              ? a.sourcePath + " -> " + a.destinationPath
                              : b.sourcePath + " -> " + b.destinationPath) +
                  ": Cancelled.");
  }
  // The two lines in either order.
  const std::string first = *errors.begin();
  const std::string second = errors.size() > 1 ? *std::next(errors.begin()) : first;
  const std::string oneOrder = completeLine(4 * size, 4, 0, 2, true, first + "\\n" + second);
  const std::string otherOrder = completeLine(4 * size, 4, 0, 2, true, second + "\\n" + first);
  EXPECT_TRUE(o.complete() == oneOrder || o.complete() == otherOrder) << o.complete();
  ASSERT_GE(o.lines.size(), 2u);
  const std::string& last = o.lines[o.lines.size() - 2];
  EXPECT_EQ(eventField(last, "message"), "Verification cancelled.");
  EXPECT_EQ(eventField(last, "completedFiles"), "2");
  EXPECT_EQ(eventField(last, "failedFiles"), "2");
}

TEST(VerifyOnly, APauseHoldsTheReadersUntilResume) {
  ScratchDir dir;
  const uint64_t size = uint64_t{4} << 20;
  writeBytes(dir.path() / "a", "");
  std::filesystem::resize_file(dir.path() / "a", size);
  RequestFields fields =
      verifyJob(4, std::vector<FileEntryFields>(8, {dir.text("a"), "", dir.text("a"), size, 0}));
  fields.workerCount = 2;
  fields.bufferSize = 512;
  writeBytes(dir.path() / "r.bin", writeRequest(fields));

  Subprocess worker(workerPath(), {"--request", dir.text("r.bin")});
  // Sent at once: the control channel applies it before the workers get far.
  worker.write("pause\n");
  auto pausedEvents = [](const std::string& out) {
    std::vector<std::string> paused;
    for (const std::string& line : eventLines(out)) {
      if (eventField(line, "message") == "Paused") paused.push_back(line);
    }
    return paused;
  };
  ASSERT_TRUE(worker.waitForOutput(
      [&](const std::string& out) { return pausedEvents(out).size() >= 5; },
      std::chrono::seconds(20)))
      << worker.out();
  const std::vector<std::string> paused = pausedEvents(worker.out());
  // The first event may still see a chunk in hand finish an item.
  for (size_t i = 2; i < 5; ++i) {
    EXPECT_EQ(eventField(paused[i], "processedBytes"), eventField(paused[1], "processedBytes"));
    EXPECT_EQ(eventField(paused[i], "activeWorkers"), "2");
  }
  EXPECT_NE(eventField(paused[4], "processedBytes"), std::to_string(8 * size));
  worker.write("resume\n");
  const int exitCode = worker.wait(std::chrono::seconds(60));
  const JobOutput o = parseJob(exitCode, worker.out());
  EXPECT_EQ(worker.err(), "");
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.complete(), completeLine(8 * size, 8, 8, 0, false, ""));
}

}  // namespace
}  // namespace qv::test
