// A host that stops listening, or never listened: whatever it closes, the
// worker's writes there fail quietly and the job still runs to its end,
// commits every file and removes its staging files.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "support/worker_run.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 96;
constexpr uint8_t kNoVerification = 0;
constexpr uint8_t kSha256 = 3;

// A copy of 96 MiB. Verifying with one thread, its verification stage spans
// several progress ticks: item events are still being written when the host
// leaves.
std::string copyRequest(const ScratchDir& dir, uint8_t verificationMode) {
  for (int i = 0; i < kFiles; ++i) {
    makeFile(dir.path() / "src" / (std::to_string(i) + ".bin"), 1 << 20, i + 1);
  }
  tools::RequestFields fields;
  fields.sourceRoots = {dir.text("src")};
  fields.destinationRoot = dir.text("dst");
  fields.verificationMode = verificationMode;
  fields.verifyWorkerCount = 1;
  fields.optionFlags = tools::kSmallFileReadAhead;
  const fs::path request = dir.path() / "request.bin";
  writeBytes(request, tools::writeRequest(fields));
  return utf8(request);
}

// Every file committed with the source's bytes, and nothing else there: no
// staging file, and no event line written into a file.
void expectWholeCopy(const ScratchDir& dir) {
  const fs::path source = dir.path() / "src";
  const fs::path copy = dir.path() / "dst" / "src";
  ASSERT_TRUE(fs::is_directory(copy));
  ASSERT_EQ(entriesUnder(copy), entriesUnder(source));
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = std::to_string(i) + ".bin";
    EXPECT_TRUE(readBytes(copy / name) == readBytes(source / name)) << name;
  }
}

TEST(ClosedOutput, JobStillCommitsEveryFileAndExitsZero) {
  const auto inVerifyStage = [](const std::string& out) {
    return out.find("\"phase\":\"verify\"") != std::string::npos;
  };
  struct Case {
    const char* name;
    std::function<bool(const std::string&)> closeWhen;
  };
  const Case cases[] = {
      {"at once", [](const std::string&) { return true; }},
      {"once the verification stage has begun", inVerifyStage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    Subprocess worker(workerPath(), {"--request", copyRequest(dir, kSha256)},
                      {.outputWhen = c.closeWhen});
    EXPECT_EQ(worker.wait(), 0);
    EXPECT_EQ(worker.err(), "");
    // The host really left before the end.
    EXPECT_EQ(worker.out().find("\"type\":\"complete\""), std::string::npos);
    expectWholeCopy(dir);
  }
}

TEST(ClosedOutput, UsageToAClosedStandardErrorStillGives64) {
  Subprocess worker(workerPath(), {"--request"}, {.outputWhen = {}, .errorAtStart = true});
  EXPECT_EQ(worker.wait(), 64);
  EXPECT_EQ(worker.out(), "");
}

// A host may start the worker with no standard output or error at all. Their
// numbers must not go to the files the job opens, or event lines would land
// in staging files.
TEST(ClosedOutput, StreamsThatWereNeverOpenTakeNoFile) {
  if (fs::path::preferred_separator != '/' || !fs::exists("/proc/self/fd")) {
    GTEST_SKIP() << "needs a POSIX shell and /proc";
  }
  ScratchDir dir;
  Subprocess worker("/bin/sh", {"-c", "exec \"$0\" --request \"$1\" >&- 2>&-", workerPath(),
                                copyRequest(dir, kNoVerification)});
  // Paused at once, so the job is still there to be looked at once its
  // folders exist.
  worker.write("pause\n");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(dir.path() / "dst" / "src") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const fs::path fds = "/proc/" + std::to_string(worker.pid()) + "/fd";
  for (const char* fd : {"1", "2"}) {
    std::error_code error;
    EXPECT_EQ(fs::read_symlink(fds / fd, error).string(), "/dev/null") << fd;
  }
  worker.write("resume\n");
  EXPECT_EQ(worker.wait(), 0);
  expectWholeCopy(dir);
}

}  // namespace
}  // namespace qv::test
