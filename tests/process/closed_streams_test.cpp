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

// A copy of 96 MiB. Verifying with one thread, its verification stage spans
// several progress ticks: item events are still being written when the host
// leaves.
std::string writeCopyRequest(const ScratchDir& dir, uint8_t verificationMode) {
  for (int i = 0; i < 96; ++i) makeFile(dir.path() / "src" / std::to_string(i), 1 << 20, i + 1);
  tools::RequestFields fields = copyRequest(dir.path() / "src", dir.path() / "dst",
                                            tools::kSmallFileReadAhead, verificationMode);
  fields.verifyWorkerCount = 1;
  writeBytes(dir.path() / "request.bin", tools::writeRequest(fields));
  return dir.text("request.bin");
}

TEST(ClosedOutput, JobStillCommitsEveryFileAndExitsZero) {
  const std::pair<const char*, std::function<bool(const std::string&)>> cases[] = {
      {"at once", [](const std::string&) { return true; }},
      {"once the verification stage has begun", [](const std::string& out) {
         return out.find("\"phase\":\"verify\"") != std::string::npos;
       }}};
  for (const auto& [name, closeWhen] : cases) {
    SCOPED_TRACE(name);
    ScratchDir dir;
    Subprocess worker(workerPath(), {"--request", writeCopyRequest(dir, 3)}, {.outputWhen = closeWhen});
    EXPECT_EQ(worker.wait(), 0);
    EXPECT_EQ(worker.err(), "");
    // The host really left before the end.
    EXPECT_EQ(worker.out().find("\"type\":\"complete\""), std::string::npos);
    // Every file committed, and nothing else there: no staging file.
    expectSameTree(dir.path() / "src", dir.path() / "dst" / "src");
  }
  Subprocess usage(workerPath(), {"--request"}, {.outputWhen = {}, .errorAtStart = true});
  EXPECT_EQ(usage.wait(), 64) << "usage to a closed standard error";
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
                                writeCopyRequest(dir, 0)});
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
  // No event line written into a file.
  expectSameTree(dir.path() / "src", dir.path() / "dst" / "src");
}

}  // namespace
}  // namespace qv::test
