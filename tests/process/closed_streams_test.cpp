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
      {"once the verification stage has begun", outputHas("\"phase\":\"verify\"")}};
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
}

// A host may start the worker with no standard output or error at all. Their
// numbers must not go to the first files the job opens, or event lines would
// land in staging files.
TEST(ClosedOutput, StreamsThatWereNeverOpenTakeNoFile) {
  if (!fs::exists("/proc/self/fd")) GTEST_SKIP() << "needs a POSIX shell and /proc";
  ScratchDir dir;
  // A check of a sparse file in 256-byte chunks: seconds with the job's files
  // open, until the cancel.
  const uint64_t size = uint64_t{256} << 20;
  makeSparseFile(dir.path() / "a", size);
  tools::RequestFields fields;
  fields.verifyOnly = 1;
  fields.verificationMode = 4;
  fields.bufferSize = 256;
  fields.files = {{dir.text("a"), "", dir.text("a"), size, 0}};
  writeBytes(dir.path() / "r.bin", tools::writeRequest(fields));
  Subprocess worker("/bin/sh", {"-c", "exec \"$0\" --request \"$1\" >&- 2>&-", workerPath(),
                                dir.text("r.bin")});
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
