// Verify-only jobs on real files through the built worker: the outcome of
// each mode, the exact "complete" event and error list, and what a cancel
// does to a running check.
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

RequestFields verifyJob(uint8_t mode, std::vector<FileEntryFields> files, uint32_t workers) {
  RequestFields fields;
  fields.verifyOnly = 1;
  fields.verificationMode = mode;
  fields.files = std::move(files);
  fields.workerCount = workers;
  return fields;
}

// One failing item among passing ones: its exact event, the error list and
// exit code 2. What each mode decides, and its texts, the check's own unit
// test pins; "far" differs only outside the sampled windows.
TEST(VerifyOnly, OneMismatchFailsTheJobWithItsExactEvents) {
  ScratchDir dir;
  const std::string bytes = patternBytes(1 << 20);
  const uint64_t size = bytes.size();
  writeBytes(dir.path() / "s", bytes);
  std::vector<FileEntryFields> files;
  for (const auto& [name, at] : {std::pair<const char*, size_t>{"far", 300000}, {"middle", size / 2},
                                 {"same", size}}) {
    std::string copy = bytes;
    if (at < size) copy[at] ^= 0x80;
    writeBytes(dir.path() / name, copy);
    files.push_back({dir.text("s"), "", dir.text(name), size, 0});
  }
  // One worker: items finish in request order.
  const JobOutput o = runJob(dir, verifyJob(1, files, 1));
  const std::string kDifferent = "Verification found different file data.";
  // Items leave through the one reporter whose lines the commit's unit tests
  // pin; here the failed one.
  EXPECT_EQ(o.items("completed").size(), 2u);
  EXPECT_EQ(o.items("failed"), std::vector<std::string>{
                                   "{\"type\":\"item\",\"status\":\"failed\",\"source\":\"" +
                                   jsonEscape(files[1].sourcePath) + "\",\"destination\":\"" +
                                   jsonEscape(files[1].destinationPath) + "\",\"size\":" +
                                   std::to_string(size) + ",\"error\":\"" + kDifferent + "\"}"});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_EQ(o.complete(),
            completeLine(3 * size, 3, 2, 1, false,
                         jsonEscape(files[1].sourcePath + " -> " + files[1].destinationPath + ": " +
                                    kDifferent)));
  // Nothing but the phase's progress, its items and the two frame events.
  // (The figures of the phase's last progress event the reporter's unit test
  // pins.)
  EXPECT_EQ(o.lines.front(), kHelloLine);
  EXPECT_EQ(o.lines.size(), 2 + o.items().size() + o.progress("verify").size());
  EXPECT_EQ(eventField(o.lines[o.lines.size() - 2], "message"), "Verification complete.");
}

// Two workers each hold an item when the cancel comes: it fails those two
// and leaves the rest silent. (That a check holds at the pause gate, between
// any two chunks, the check's unit test pins.)
TEST(VerifyOnly, CancelFailsOnlyTheItemsInHand) {
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
  ASSERT_TRUE(worker.waitForOutput(outputHas("\"activeWorkers\":2,"), std::chrono::seconds(20)))
      << worker.out();
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
}

}  // namespace
}  // namespace qv::test
