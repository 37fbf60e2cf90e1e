// The worker's command line, its refusals of requests it cannot use, a
// missing source root and the shape of an empty job, checked byte for byte
// on the real binary.
#include <gtest/gtest.h>

#include <filesystem>

#include "frame/event_text.h"
#include "support/worker_run.h"

namespace qv::test {
namespace {

using tools::writeRequest;

TEST(CommandLine, AnythingButRequestAndAPathGivesUsage) {
  const std::vector<std::vector<std::string>> wrong = {
      {}, {"--request"}, {"--Request", "r.bin"}, {"--request", "r.bin", "extra"},
      {"--req", "r.bin"}, {"r.bin", "--request"}};
  for (const auto& args : wrong) {
    ProcessResult result = runToEnd(workerPath(), args);
    EXPECT_EQ(result.exitCode, 64) << args.size();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Usage: Quorvel.NativeWorker.exe --request <request-file>" +
                              std::string(eventLineEnd()));
  }
}

// A request that cannot be opened (the reader's own tests pin down every
// other refusal, which takes the same way out) and a missing source root, as
// the request spells it, reach the host verbatim after "hello", before any
// destination folder is made.
TEST(Request, RefusalsReachTheHostVerbatim) {
  ScratchDir dir;
  // A second root the job never reaches, and a first one spelled loosely.
  const std::string missing = dir.text("absent") + "/./x/..";
  std::filesystem::create_directories(dir.path() / "present");
  tools::RequestFields missingRoot;
  missingRoot.sourceRoots = {missing, dir.text("present")};
  missingRoot.destinationRoot = dir.text("out");
  writeBytes(dir.path() / "root.bin", writeRequest(missingRoot));
  // An empty path fails to open like a missing file.
  const std::pair<std::string, std::string> cases[] = {
      {dir.text("absent.bin"), "Unable to open the native worker request."},
      {"", "Unable to open the native worker request."},
      {dir.text("root.bin"), "Source path was not found: " + jsonEscape(missing)}};
  for (const auto& [path, message] : cases) {
    ProcessResult result = runToEnd(workerPath(), {"--request", path});
    EXPECT_EQ(result.exitCode, 1) << path;
    EXPECT_EQ(eventLines(result.out),
              (std::vector<std::string>{kHelloLine,
                                        "{\"type\":\"fatal\",\"message\":\"" + message + "\"}"}));
    EXPECT_EQ(result.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out"));
}

// "hello" first and "complete" last, with standard input kept open after
// lines that are not commands. (The other worker tests close it at once.)
TEST(EmptyJob, CompletesWhateverTheHostWritesThatIsNoCommand) {
  ScratchDir dir;
  tools::RequestFields fields;
  fields.verifyOnly = 1;
  writeBytes(dir.path() / "r.bin", writeRequest(fields));
  const ProcessResult result =
      runToEnd(workerPath(), {"--request", dir.text("r.bin")}, "Cancel\nresume\npause \n", false);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
  const std::vector<std::string> events = eventLines(result.out);
  ASSERT_GE(events.size(), 2u) << result.out;
  EXPECT_EQ(events.front(), kHelloLine);
  EXPECT_EQ(events.back(), completeLine(0, 0, 0, 0, false, ""));
}

}  // namespace
}  // namespace qv::test
