#include "support/worker_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
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

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + utf8(path));
}

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + utf8(path));
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
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

std::vector<std::string> entriesUnder(const std::filesystem::path& root) {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    out.push_back(utf8(entry.path().lexically_relative(root)) +
                  (entry.is_directory() ? "/" : ""));
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> stagingFilesUnder(const std::filesystem::path& root) {
  std::vector<std::string> out;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (utf8(it->path().filename()).find(".qv-native-partial-") != std::string::npos) {
      out.push_back(utf8(it->path()));
    }
  }
  return out;
}

void expectSameTree(const std::filesystem::path& source, const std::filesystem::path& copy) {
  const std::vector<std::string> names = entriesUnder(source);
  ASSERT_EQ(names, entriesUnder(copy));
  for (const std::string& name : names) {
    if (name.back() == '/') continue;
    const auto path = std::filesystem::u8path(name);
    EXPECT_TRUE(readBytes(source / path) == readBytes(copy / path)) << name;
  }
}

tools::RequestFields copyRequest(const std::filesystem::path& source,
                                 const std::filesystem::path& destination, uint32_t flags,
                                 uint8_t verificationMode) {
  tools::RequestFields fields;
  fields.sourceRoots = {utf8(source)};
  fields.destinationRoot = utf8(destination);
  fields.optionFlags = flags;
  fields.verificationMode = verificationMode;
  return fields;
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

std::string eventField(std::string_view line, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  size_t at = line.find(marker);
  if (at == std::string::npos) return "<no " + key + ">";
  at += marker.size();
  if (at < line.size() && line[at] == '"') {
    size_t end = at + 1;
    while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
    return std::string(line.substr(at + 1, end - at - 1));
  }
  return std::string(line.substr(at, line.find_first_of(",}", at) - at));
}

int64_t eventNumber(std::string_view line, const std::string& key) {
  const std::string digits = eventField(line, key);
  return digits.empty() || digits[0] == '<' ? -1 : std::stoll(digits);
}

namespace {

// Events of `type` whose first member after it is `value` (any when empty).
std::vector<std::string> eventsOf(const std::vector<std::string>& lines, const std::string& type,
                                  const std::string& member, const std::string& value) {
  const std::string head = "{\"type\":\"" + type + "\",\"" + member + "\":\"" + value;
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    if (line.rfind(head, 0) == 0 && (value.empty() || line[head.size()] == '"')) {
      out.push_back(line);
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> JobOutput::items(const std::string& status) const {
  return eventsOf(lines, "item", "status", status);
}

std::vector<std::string> JobOutput::progress(const std::string& phase) const {
  return eventsOf(lines, "progress", "phase", phase);
}

const std::string& JobOutput::complete() const {
  static const std::string none;
  return lines.empty() ? none : lines.back();
}

ProcessResult runWorkerOn(const ScratchDir& dir, const std::string& requestBytes) {
  const std::filesystem::path requestPath = dir.path() / "request.bin";
  writeBytes(requestPath, requestBytes);
  return runToEnd(workerPath(), {"--request", utf8(requestPath)});
}

JobOutput runJob(const ScratchDir& dir, const tools::RequestFields& fields) {
  const ProcessResult result = runWorkerOn(dir, tools::writeRequest(fields));
  EXPECT_EQ(result.err, "");
  JobOutput job = parseJob(result.exitCode, result.out);
  EXPECT_EQ(job.complete().rfind("{\"type\":\"complete\"", 0), 0u) << result.out;
  return job;
}

std::string scanProgressLine(const std::string& message, const std::string& currentFile,
                             uint64_t bytes, uint64_t files, uint64_t failed) {
  return "{\"type\":\"progress\",\"phase\":\"scan\",\"message\":\"" + message +
         "\",\"currentFile\":\"" + currentFile + "\",\"totalBytes\":" + std::to_string(bytes) +
         ",\"processedBytes\":0,\"totalFiles\":" + std::to_string(files) +
         ",\"completedFiles\":0,\"skippedFiles\":0,\"failedFiles\":" + std::to_string(failed) +
         ",\"activeWorkers\":0,\"targetWorkers\":0,\"queueDepth\":0,\"bytesPerSecond\":0,"
         "\"retryQueue\":0}";
}

std::string scanCompleteLine(uint64_t bytes, uint64_t files) {
  return scanProgressLine("Source scan complete.", "", bytes, files);
}

std::string completeLine(uint64_t totalBytes, uint64_t files, uint64_t completed,
                         uint64_t failed, bool cancelled, const std::string& errors,
                         uint64_t copiedBytes) {
  return "{\"type\":\"complete\",\"totalBytes\":" + std::to_string(totalBytes) +
         ",\"copiedBytes\":" + std::to_string(copiedBytes) +
         ",\"totalFiles\":" + std::to_string(files) +
         ",\"completedFiles\":" + std::to_string(completed) +
         ",\"skippedFiles\":0,\"failedFiles\":" + std::to_string(failed) +
         ",\"cancelled\":" + (cancelled ? "true" : "false") + ",\"errors\":\"" + errors + "\"}";
}

}  // namespace qv::test
