// The worker's command line, its refusals of broken requests, a missing
// source root and the shape of an empty job, checked byte for byte on the
// real binary.
#include <gtest/gtest.h>

#include <filesystem>

#include "frame/event_text.h"
#include "support/worker_run.h"

namespace qv::test {
namespace {

using tools::RequestFields;
using tools::writeRequest;

std::string lines(std::initializer_list<std::string> events) {
  std::string out;
  for (const std::string& e : events) out += e + std::string(eventLineEnd());
  return out;
}

// An empty job: "hello" first, "complete" last, and between them only the
// phase's progress events.
void expectEmptyJob(const ProcessResult& result) {
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
  std::vector<std::string> events = eventLines(result.out);
  ASSERT_GE(events.size(), 2u) << result.out;
  EXPECT_EQ(events.front(), kHelloLine);
  EXPECT_EQ(events.back(), completeLine(0, 0, 0, 0, false, ""));
  for (size_t i = 1; i + 1 < events.size(); ++i) {
    EXPECT_EQ(events[i].rfind("{\"type\":\"progress\",", 0), 0u) << events[i];
  }
}

TEST(CommandLine, AnythingButRequestAndAPathGivesUsage) {
  ScratchDir dir;
  writeBytes(dir.path() / "r.bin", writeRequest(RequestFields{}));
  const std::string request = dir.text("r.bin");
  const std::vector<std::vector<std::string>> wrong = {
      {}, {"--request"}, {"--Request", request}, {"--REQUEST", request},
      {"--request", request, "extra"}, {"--req", request}, {"-request", request},
      {request, "--request"}};
  const std::string usage =
      "Usage: Quorvel.NativeWorker.exe --request <request-file>" + std::string(eventLineEnd());
  for (const auto& args : wrong) {
    ProcessResult result = runToEnd(workerPath(), args);
    EXPECT_EQ(result.exitCode, 64) << args.size();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, usage);
  }
}

TEST(Request, MissingFileIsFatal) {
  ScratchDir dir;
  // An empty path fails to open the same way.
  for (const std::string& path : {dir.text("absent.bin"), std::string()}) {
    ProcessResult result = runToEnd(workerPath(), {"--request", path});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out,
              lines({kHelloLine, fatalLine("Unable to open the native worker request.")}));
    EXPECT_EQ(result.err, "");
  }
}

// A refusal's message reaches the host verbatim; the reader's own tests cut
// a request at every byte, and the request tool's tests run the worker on
// each refusal.
TEST(Request, RefusalsReachTheHostVerbatim) {
  tools::RequestOffsets at;
  RequestFields full;
  full.sourceRoots = {"C:\\src"};
  full.files = {{"a", "", "b", 1, 2}};
  full.directories = {{"a", "", "b"}};
  const std::string valid = writeRequest(full, &at);

  struct Case {
    std::string name;
    std::string bytes;
    std::string message;
  };
  std::vector<Case> cases = {
      {"u64 field cut", tools::truncateAt(valid, at.files[0].lastWriteTime + 7),
       "The native worker request ended unexpectedly."},
  };
  for (uint32_t version : {2u, 4u}) {
    RequestFields v;
    v.protocolVersion = version;
    cases.push_back({"version", writeRequest(v),
                     "The app and native worker protocol versions do not match."});
  }
  ScratchDir dir;
  for (const Case& c : cases) {
    ProcessResult result = runWorkerOn(dir, c.bytes);
    EXPECT_EQ(result.exitCode, 1) << c.name;
    EXPECT_EQ(result.out, lines({kHelloLine, fatalLine(c.message)})) << c.name;
    EXPECT_EQ(result.err, "") << c.name;
  }
}

TEST(Request, LongestStringIsAccepted) {
  RequestFields fields;
  fields.destinationRoot = std::string(16777216, 'x');
  ScratchDir dir;
  expectEmptyJob(runWorkerOn(dir, writeRequest(fields)));
}

TEST(Request, MissingSourceRootIsFatalWithTheRootAsGiven) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "present");
  // A second root the job never reaches, and a first one spelled loosely.
  const std::string missing = dir.text("absent") + "/./x/..";
  RequestFields request;
  request.sourceRoots = {missing, dir.text("present")};
  request.destinationRoot = dir.text("out");
  const ProcessResult result = runWorkerOn(dir, writeRequest(request));
  EXPECT_EQ(result.exitCode, 1);
  const std::vector<std::string> expected = {
      kHelloLine, fatalLine("Source path was not found: " + jsonEscape(missing))};
  EXPECT_EQ(eventLines(result.out), expected);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out"));
}

TEST(EmptyJob, CompletesWithStandardInputClosedOrOpen) {
  ScratchDir dir;
  for (uint8_t verifyOnly : {0, 1}) {
    RequestFields fields;
    fields.verifyOnly = verifyOnly;
    writeBytes(dir.path() / "r.bin", writeRequest(fields));
    for (bool closeInput : {true, false}) {
      SCOPED_TRACE(closeInput);
      expectEmptyJob(runToEnd(workerPath(), {"--request", dir.text("r.bin")}, {}, closeInput));
    }
  }
}

TEST(EmptyJob, LinesThatAreNotCommandsChangeNothing) {
  ScratchDir dir;
  writeBytes(dir.path() / "r.bin", writeRequest(RequestFields{}));
  expectEmptyJob(runToEnd(workerPath(), {"--request", dir.text("r.bin")},
                          "Cancel\nresume\npause \n", true));
}

}  // namespace
}  // namespace qv::test
