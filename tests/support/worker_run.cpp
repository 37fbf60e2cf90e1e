#include "support/worker_run.h"

#include <atomic>
#include <fstream>
#include <random>
#include <stdexcept>

namespace qv::test {

const char kHelloLine[] = "{\"type\":\"hello\",\"protocol\":3,\"workerVersion\":\"1.3.1\"}";

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  path_ = std::filesystem::temp_directory_path() /
          ("qv-test-" + std::to_string(seed()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Read-only files would stop the removal on Windows.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::text(const std::string& name) const {
  return utf8(name.empty() ? path_ : path_ / std::filesystem::u8path(name));
}

std::string utf8(const std::filesystem::path& path) {
  std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + utf8(path));
}

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + utf8(path));
  // Sized read: gcc 12 warns falsely (null dereference) about
  // istreambuf_iterator at -O3.
  file.seekg(0, std::ios::end);
  std::string bytes(static_cast<size_t>(file.tellg()), '\0');
  file.seekg(0);
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

std::string patternBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 0x9E3779B9u;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::vector<std::string> eventLines(const std::string& out) {
  std::vector<std::string> lines;
  const std::string_view end = eventLineEnd();
  size_t start = 0;
  for (size_t at = out.find(end); at != std::string::npos; at = out.find(end, start)) {
    lines.push_back(out.substr(start, at - start));
    start = at + end.size();
  }
  if (start < out.size()) lines.push_back(out.substr(start) + "<no line end>");
  return lines;
}

ProcessResult runWorkerOn(const ScratchDir& dir, const std::string& requestBytes) {
  const std::filesystem::path requestPath = dir.path() / "request.bin";
  writeBytes(requestPath, requestBytes);
  return runToEnd(workerPath(), {"--request", utf8(requestPath)});
}

}  // namespace qv::test
