// Verify-only jobs on real files through the built worker: the outcome of
// each mode, the exact "complete" event and error list, and what pause and
// cancel do to a running check.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/event_text.h"
#include "support/worker_run.h"

namespace qv::test {
namespace {

using tools::FileEntryFields;
using tools::RequestFields;

const char kMissing[] = "The source or destination is missing.";
const char kLength[] = "Verification found a file-length mismatch.";
const char kDifferent[] = "Verification found different file data.";

RequestFields verifyJob(uint8_t mode, std::vector<FileEntryFields> files, uint32_t workers) {
  RequestFields fields;
  fields.verifyOnly = 1;
  fields.verificationMode = mode;
  fields.files = std::move(files);
  fields.workerCount = workers;
  return fields;
}

// Each mode against a passing copy and failing ones; the window boundaries
// and the buffer sizes are checked on the check itself (a unit test).
TEST(VerifyOnly, EveryModePassesAndFailsAsReported) {
  ScratchDir dir;
  const std::string bytes = patternBytes(1 << 20);
  const uint64_t size = bytes.size();
  writeBytes(dir.path() / "s", bytes);
  writeBytes(dir.path() / "same", bytes);
  // "far" differs outside the sampled windows, the others inside one.
  const std::pair<const char*, size_t> changed[] = {
      {"far", 300000}, {"first", 10}, {"middle", (size - 65536) / 2 + 5}, {"last", size - 1}};
  for (const auto& [name, at] : changed) {
    std::string copy = bytes;
    copy[at] ^= 0x80;
    writeBytes(dir.path() / name, copy);
  }
  auto item = [&](const char* destination, uint64_t recorded = 0) {
    return FileEntryFields{dir.text("s"), "", dir.text(destination), recorded ? recorded : size, 0};
  };

  struct Case {
    uint8_t mode;
    std::vector<FileEntryFields> files;
    std::vector<std::string> errors;  // per item, "" for a pass
  };
  const std::vector<Case> cases = {
      {1, {item("far"), item("first"), item("middle"), item("last"), item("same")},
       {"", kDifferent, kDifferent, kDifferent, ""}},
      {2, {item("far"), item("same")}, {"CRC32 verification failed.", ""}},
      {3, {item("far"), item("same")}, {"SHA-256 verification failed.", ""}},
      {4, {item("far"), item("same")}, {kDifferent, ""}},
      // The existence and length checks come before any mode.
      {0, {item("absent"), item("same", size + 1), item("far")}, {kMissing, kLength, ""}},
      {9, {item("absent"), item("same", size - 1), item("same")},
       {kMissing, kLength, "Unsupported verification mode."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.mode});
    // One worker: items finish, and errors are listed, in request order.
    const JobOutput o = runJob(dir, verifyJob(c.mode, c.files, 1));
    uint32_t failed = 0;
    uint64_t total = 0;
    std::string errors;
    ASSERT_EQ(o.items().size(), c.files.size());
    for (size_t i = 0; i < c.files.size(); ++i) {
      const FileEntryFields& f = c.files[i];
      total += f.size;
      EXPECT_EQ(o.items()[i], "{\"type\":\"item\",\"status\":\"" +
                                  std::string(c.errors[i].empty() ? "completed" : "failed") +
                                  "\",\"source\":\"" + jsonEscape(f.sourcePath) +
                                  "\",\"destination\":\"" + jsonEscape(f.destinationPath) +
                                  "\",\"size\":" + std::to_string(f.size) + ",\"error\":\"" +
                                  c.errors[i] + "\"}");
      if (c.errors[i].empty()) continue;
      ++failed;
      errors += (errors.empty() ? "" : "\\n") +
                jsonEscape(f.sourcePath + " -> " + f.destinationPath + ": " + c.errors[i]);
    }
    const uint32_t count = static_cast<uint32_t>(c.files.size());
    EXPECT_EQ(o.exitCode, failed ? 2 : 0);
    EXPECT_EQ(o.complete(), completeLine(total, count, count - failed, failed, false, errors));
    // Nothing but the phase's progress, its items and the two frame events;
    // the last progress event has the phase's final figures.
    EXPECT_EQ(o.lines.front(), kHelloLine);
    EXPECT_EQ(o.lines.size(), 2 + o.items().size() + o.progress("verify").size());
    const std::string& last = o.lines[o.lines.size() - 2];
    EXPECT_EQ(eventField(last, "message"), "Verification complete.") << last;
    EXPECT_EQ(eventNumber(last, "processedBytes"), static_cast<int64_t>(total));
    EXPECT_EQ(eventNumber(last, "completedFiles") + eventNumber(last, "failedFiles"), count + failed);
  }
}

// Two workers each hold an item when the pause comes; the readers then stay
// put until the cancel, which fails the items in hand and leaves the rest
// silent.
TEST(VerifyOnly, PauseHoldsTheReadersAndCancelFailsOnlyTheItemsInHand) {
  ScratchDir dir;
  // Sparse files: large enough that 256-byte chunks keep both workers busy
  // for seconds, with nothing written to disk.
  const uint64_t size = uint64_t{256} << 20;
  for (const char* name : {"a", "b"}) makeSparseFile(dir.path() / name, size);
  const FileEntryFields a{dir.text("a"), "", dir.text("b"), size, 0};
  const FileEntryFields b{dir.text("b"), "", dir.text("a"), size, 0};
  RequestFields fields = verifyJob(4, {a, b, a, b}, 2);
  fields.bufferSize = 256;
  writeBytes(dir.path() / "r.bin", tools::writeRequest(fields));

  Subprocess worker(workerPath(), {"--request", dir.text("r.bin")});
  ASSERT_TRUE(worker.waitForOutput(
      [](const std::string& out) { return out.find("\"activeWorkers\":2,") != std::string::npos; },
      std::chrono::seconds(20)))
      << worker.out();
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
  // The first event may still see a chunk in hand finish.
  for (size_t i = 2; i < 5; ++i) {
    EXPECT_EQ(eventField(paused[i], "processedBytes"), eventField(paused[1], "processedBytes"));
    EXPECT_EQ(eventField(paused[i], "activeWorkers"), "2");
  }
  worker.write("cancel\n");
  const int exitCode = worker.wait(std::chrono::seconds(60));
  const JobOutput o = parseJob(exitCode, worker.out());
  EXPECT_EQ(worker.err(), "");

  EXPECT_EQ(o.exitCode, 2);
  ASSERT_EQ(o.items().size(), 2u) << worker.out();
  std::vector<std::string> errors;  // in either order
  for (const std::string& item : o.items()) {
    EXPECT_EQ(eventField(item, "status"), "failed");
    EXPECT_EQ(eventField(item, "error"), "Cancelled.");
    const FileEntryFields& f = eventField(item, "source") == jsonEscape(a.sourcePath) ? a : b;
    errors.push_back(jsonEscape(f.sourcePath + " -> " + f.destinationPath + ": Cancelled."));
  }
  EXPECT_TRUE(o.complete() == completeLine(4 * size, 4, 0, 2, true, errors[0] + "\\n" + errors[1]) ||
              o.complete() == completeLine(4 * size, 4, 0, 2, true, errors[1] + "\\n" + errors[0]))
      << o.complete();
  const std::string& last = o.lines[o.lines.size() - 2];
  EXPECT_EQ(eventField(last, "message"), "Verification cancelled.");
  EXPECT_EQ(eventField(last, "completedFiles"), "2");
  EXPECT_EQ(eventField(last, "failedFiles"), "2");
}

}  // namespace
}  // namespace qv::test
