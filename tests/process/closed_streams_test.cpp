// A host that stops listening, or never listened: whatever it closes, the
// worker's writes there fail quietly and the job still runs to its end,
// commits every file and removes its staging files.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

// The host leaves once the verification stage has begun, while both the
// copy and the stage still write events. (Leaving at once fails the same
// writes, only earlier.)
TEST(ClosedOutput, JobStillCommitsEveryFileAndExitsZero) {
  ScratchDir dir;
  Subprocess worker(workerPath(), {"--request", writeCopyRequest(dir, 3)},
                    {.outputWhen = outputHas("\"phase\":\"verify\"")});
  EXPECT_EQ(worker.wait(), 0);
  EXPECT_EQ(worker.err(), "");
  // The host really left before the end.
  EXPECT_EQ(worker.out().find("\"type\":\"complete\""), std::string::npos);
  // Every file committed, and nothing else there: no staging file.
  expectSameTree(dir.path() / "src", dir.path() / "dst" / "src");
}

// A host may start the worker with no standard output or error at all. Their
// numbers must not go to the first files the job opens, or event lines would
// land in staging files.
TEST(ClosedOutput, StreamsThatWereNeverOpenTakeNoFile) {
  // Under Wine a Windows test sees the host's /proc too, but its worker is no
  // process that /proc names.
  if (fs::path::preferred_separator != '/' || !fs::exists("/proc/self/fd")) {
    GTEST_SKIP() << "needs a POSIX shell and /proc";
  }
  ScratchDir dir;
  Subprocess worker("/bin/sh", {"-c", "exec \"$0\" --request \"$1\" >&- 2>&-", workerPath(),
                                writeCopyRequest(dir, 0)});
  // Held at the pause gate, so the worker is still there to be looked at.
  worker.write("pause\n");
  // Once the shell has become the worker, the numbers are free until the
  // worker fills them, with /dev/null or with the first files it opens.
  const fs::path proc = "/proc/" + std::to_string(worker.pid());
  const fs::path exe = fs::canonical(workerPath());
  std::error_code error;
  const auto filled = [&] {
    return fs::read_symlink(proc / "exe", error) == exe &&
           fs::exists(proc / "fd/1", error) && fs::exists(proc / "fd/2", error);
  };
  for (int ms = 0; ms < 10000 && !filled(); ++ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (const char* fd : {"fd/1", "fd/2"}) {
    EXPECT_EQ(fs::read_symlink(proc / fd, error).string(), "/dev/null") << fd;
  }
  worker.write("cancel\n");
}

}  // namespace
}  // namespace qv::test
