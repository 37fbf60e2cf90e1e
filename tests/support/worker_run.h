// Helpers for process tests: scratch folders, request files, runs of the
// built worker and the event lines they print.
#ifndef QV_TESTS_SUPPORT_WORKER_RUN_H_
#define QV_TESTS_SUPPORT_WORKER_RUN_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "request_writer/request_writer.h"
#include "support/subprocess.h"

namespace qv::test {

inline std::string utf8(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  // `path() / name` as UTF-8 text, the form request files carry.
  std::string text(const std::string& name = {}) const {
    return utf8(name.empty() ? path_ : path_ / std::filesystem::u8path(name));
  }

 private:
  std::filesystem::path path_;
};

inline std::u16string u16(const std::filesystem::path& path) { return path.u16string(); }
void writeBytes(const std::filesystem::path& path, const std::string& bytes);
std::string readBytes(const std::filesystem::path& path);
// `size` pseudo-random bytes; a different `seed` gives different bytes.
std::string patternBytes(size_t size, uint32_t seed = 1);
// A file of `size` pattern bytes, its folders created first.
inline void makeFile(const std::filesystem::path& path, uint64_t size, uint32_t seed = 1) {
  std::filesystem::create_directories(path.parent_path());
  writeBytes(path, patternBytes(static_cast<size_t>(size), seed));
}
// A file of `size` zero bytes that takes no room where the system allows.
inline void makeSparseFile(const std::filesystem::path& path, uint64_t size) {
  writeBytes(path, "");
  std::filesystem::resize_file(path, size);
}
// Every entry under `root` by relative path, sorted, folders with a final /.
std::vector<std::string> entriesUnder(const std::filesystem::path& root);
// Staging files anywhere under `root`; safe while a worker writes there.
std::vector<std::string> stagingFilesUnder(const std::filesystem::path& root);

// The same entries under both, every file with the same bytes (so no
// staging file either).
void expectSameTree(const std::filesystem::path& source, const std::filesystem::path& copy);

// A request to copy the folder `source` into `destination`.
tools::RequestFields copyRequest(const std::filesystem::path& source,
                                 const std::filesystem::path& destination, uint32_t flags = 0,
                                 uint8_t verificationMode = 0);

// The worker's output split into lines, without their line endings.
std::vector<std::string> eventLines(const std::string& out);
// The value of `key` in a flat event object: a string's escaped body or a
// number's digits.
std::string eventField(std::string_view line, const std::string& key);
// A number member, or -1 when the event has no `key`.
int64_t eventNumber(std::string_view line, const std::string& key);

// The events of one job, in output order.
struct JobOutput {
  int exitCode = -1;
  std::vector<std::string> lines;

  // Item events with `status`, progress events of `phase`; all when empty.
  std::vector<std::string> items(const std::string& status = {}) const;
  std::vector<std::string> progress(const std::string& phase = {}) const;
  const std::string& complete() const;  // the last line
};
inline JobOutput parseJob(int exitCode, const std::string& out) {
  return {exitCode, eventLines(out)};
}

// Writes `request` to a file in `dir` and runs the worker on it with
// standard input closed at once.
ProcessResult runWorkerOn(const ScratchDir& dir, const std::string& requestBytes);
// The same for request fields, expecting a quiet standard error and a job
// that ends with "complete".
JobOutput runJob(const ScratchDir& dir, const tools::RequestFields& fields);

// Whole event lines as the worker prints them; completeLine is that of a
// job that skipped nothing.
std::string scanProgressLine(const std::string& message, const std::string& currentFile,
                             uint64_t bytes, uint64_t files, uint64_t failed = 0);
std::string scanCompleteLine(uint64_t bytes, uint64_t files);
std::string completeLine(uint64_t totalBytes, uint64_t files, uint64_t completed,
                         uint64_t failed, bool cancelled, const std::string& errors,
                         uint64_t copiedBytes = 0);

extern const char kHelloLine[];

}  // namespace qv::test

#endif  // QV_TESTS_SUPPORT_WORKER_RUN_H_
