// The worker's command line, its refusals of requests it cannot use, a
// missing source root and the shape of an empty job, checked byte for byte
// on the real binary.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

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

// "hello" first, and last: a refusal as the reader words it (the reader's
// own tests pin every refusal, and all leave this way), a missing source root
// as the request spells it, before any destination folder is made, or the
// "complete" of an empty job. Standard input stays open after lines that are
// not commands; the other worker tests close it at once.
TEST(Request, EndsWithItsRefusalOrCompletesWithInputKeptOpen) {
  ScratchDir dir;
  // A second root the job never reaches, and a first one spelled loosely.
  const std::string missing = dir.text("absent") + "/./x/..";
  std::filesystem::create_directories(dir.path() / "present");
  tools::RequestFields missingRoot, empty;
  missingRoot.sourceRoots = {missing, dir.text("present")};
  missingRoot.destinationRoot = dir.text("out");
  empty.verifyOnly = 1;
  writeBytes(dir.path() / "root.bin", writeRequest(missingRoot));
  writeBytes(dir.path() / "empty.bin", writeRequest(empty));
  const std::string fatal = "{\"type\":\"fatal\",\"message\":\"";
  const std::tuple<std::string, int, std::string> cases[] = {
      {dir.text("absent.bin"), 1, fatal + "Unable to open the native worker request.\"}"},
      {dir.text("root.bin"), 1, fatal + "Source path was not found: " + jsonEscape(missing) + "\"}"},
      {dir.text("empty.bin"), 0, completeLine(0, 0, 0, 0, false, "")}};
  for (const auto& [path, exitCode, last] : cases) {
    const ProcessResult result =
        runToEnd(workerPath(), {"--request", path}, "Cancel\nresume\npause \n", false);
    EXPECT_EQ(result.exitCode, exitCode) << path;
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> events = eventLines(result.out);
    ASSERT_GE(events.size(), 2u) << result.out;
    EXPECT_EQ(events.front(), kHelloLine);
    EXPECT_EQ(events.back(), last);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out"));
}

}  // namespace
}  // namespace qv::test
