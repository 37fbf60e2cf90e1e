// Helpers for process tests: scratch folders, request files and runs of the
// built worker.
#ifndef QV_TESTS_SUPPORT_WORKER_RUN_H_
#define QV_TESTS_SUPPORT_WORKER_RUN_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "request_writer/request_writer.h"
#include "support/subprocess.h"

namespace qv::test {

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  // `path() / name` as UTF-8 text, the form request files carry.
  std::string text(const std::string& name = {}) const;

 private:
  std::filesystem::path path_;
};

std::string utf8(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::string& bytes);
std::string readBytes(const std::filesystem::path& path);
// `size` pseudo-random bytes; a different `seed` gives different bytes.
std::string patternBytes(size_t size, uint32_t seed = 1);

// The worker's output split into lines, without their line endings.
std::vector<std::string> eventLines(const std::string& out);

// Writes `request` to a file in `dir` and runs the worker on it with
// standard input closed at once.
ProcessResult runWorkerOn(const ScratchDir& dir, const std::string& requestBytes);

extern const char kHelloLine[];

}  // namespace qv::test

#endif  // QV_TESTS_SUPPORT_WORKER_RUN_H_
