// quorvel-request: request files to JSON and back without losing a byte,
// and the worker's own verdict on broken files.
#include <gtest/gtest.h>

#include "support/worker_run.h"

namespace qv::test {
namespace {

using tools::RequestFields;
using tools::writeRequest;

std::string requestTool() { return builtProgram("QV_REQUEST_TOOL"); }

// The standard output of a tool with the system's text-mode line endings
// turned back into line feeds.
std::string text(std::string out) {
  std::erase(out, '\r');
  return out;
}

ProcessResult dump(const ScratchDir& dir, const std::string& bytes) {
  writeBytes(dir.path() / "request.bin", bytes);
  return runToEnd(requestTool(), {"dump", dir.text("request.bin")});
}

ProcessResult build(const ScratchDir& dir, const std::string& json) {
  writeBytes(dir.path() / "request.json", json);
  return runToEnd(requestTool(), {"build", dir.text("request.json"), dir.text("built.bin")});
}

// The documented JSON through build and dump, and request files (odd values
// included) through dump and build, come back byte for byte.
TEST(RequestTool, JsonAndRequestFilesSurviveTheRoundTrip) {
  ScratchDir dir;
  // The JSON form as the README shows it, which is exactly what dump prints.
  const std::string readme = readBytes(std::filesystem::u8path(QV_SOURCE_DIR "/README.md"));
  const size_t start = readme.find("```json\n") + 8;
  const std::string documented = readme.substr(start, readme.find("```", start) - start);
  ASSERT_EQ(build(dir, documented).exitCode, 0);
  const ProcessResult printed = runToEnd(requestTool(), {"dump", dir.text("built.bin")});
  EXPECT_EQ(printed.exitCode, 0) << printed.err;
  EXPECT_EQ(text(printed.out), documented);
  RequestFields odd;  // values the worker reads but no name covers
  odd.verifyOnly = 5;
  odd.conflictPolicy = 7;
  odd.verificationMode = 9;
  odd.reserved = 0xAB;
  odd.optionFlags = 0x8000007Fu | 0x80u;
  odd.workerCount = 0xFFFFFFFFu;
  odd.destinationRoot = "C:\\dst\tx\x01";
  odd.sourceRoots = {"", "\xE6\x97\xA5\xF0\x9F\x98\x80"};
  odd.files = {{"a", "b", "c", ~0ull, 1}, {"", "", "", 0, 0}};
  odd.directories = {{"d", "", "e"}};
  const std::vector<std::string> files = {
      writeRequest(RequestFields{}), writeRequest(odd),
      writeRequest(odd) + std::string("\0tail\xFF", 6),  // ignored by the worker, kept here
  };
  for (const std::string& bytes : files) {
    ProcessResult dumped = dump(dir, bytes);
    ASSERT_EQ(dumped.exitCode, 0) << dumped.err;
    ProcessResult built = build(dir, dumped.out);
    ASSERT_EQ(built.exitCode, 0) << built.err;
    EXPECT_EQ(readBytes(dir.path() / "built.bin"), bytes) << dumped.out;
  }
  // Keys left out take the writer's defaults; an escaped character comes
  // back as its UTF-8 bytes.
  ASSERT_EQ(build(dir, "{\"destinationRoot\":\"/caf\\u00e9 \\\"d\\\"\"}").exitCode, 0);
  RequestFields defaults;
  defaults.destinationRoot = "/caf\xC3\xA9 \"d\"";
  EXPECT_EQ(readBytes(dir.path() / "built.bin"), writeRequest(defaults));
  const std::string shown = "\"destinationRoot\": \"/caf\xC3\xA9 \\\"d\\\"\",";
  EXPECT_NE(dump(dir, writeRequest(defaults)).out.find(shown), std::string::npos);
}

TEST(RequestTool, BadJsonIsRefusedWithTheKey) {
  ScratchDir dir;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\"workerCont\":8}", "workerCont"},
      {"{\"conflictPolicy\":\"merge\"}", "conflictPolicy"},
      {"{\"workerCount\":-1}", "workerCount"},
      {"{\"files\":[{\"size\":\"big\"}]}", "files[].size"},
      {"{\"optionFlags\":[\"fast\"]}", "optionFlags"},
      {"{", "parse"},
  };
  for (const auto& [json, key] : cases) {
    ProcessResult built = build(dir, json);
    EXPECT_EQ(built.exitCode, 1) << json;
    EXPECT_NE(built.err.find(key), std::string::npos) << built.err;
  }
}

// The reader's own tests pin down every refusal; here it reaches standard
// error as it stands.
TEST(RequestTool, BrokenFilesGetTheWorkersRefusal) {
  ScratchDir dir;
  const std::string valid = writeRequest(RequestFields{});
  ProcessResult dumped = dump(dir, "QVCWREQ2" + valid.substr(8));
  EXPECT_NE(dumped.exitCode, 0);
  EXPECT_EQ(dumped.out, "");
  EXPECT_EQ(text(dumped.err), "The native worker request has an invalid signature.\n");
}

}  // namespace
}  // namespace qv::test
