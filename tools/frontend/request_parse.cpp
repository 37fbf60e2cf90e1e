#include "frontend/request_parse.h"

#include <cstdint>
#include <new>
#include <stdexcept>

#include "request/request_reader.h"

namespace qv::tools {

namespace {

// Walks a request the worker's reader has accepted, keeping what that reader
// drops: the strings as their UTF-8 bytes, the reserved byte and the bytes
// after the last folder entry. Nothing here judges the file.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : rest_(bytes) {}

  std::string_view take(size_t n) {
    std::string_view head = rest_.substr(0, n);
    rest_.remove_prefix(head.size());
    return head;
  }
  uint8_t u8() { return static_cast<uint8_t>(number(take(1))); }
  uint32_t u32() { return static_cast<uint32_t>(number(take(4))); }
  uint64_t u64() { return number(take(8)); }
  std::string text() { return std::string(take(u32())); }

  std::string_view rest() const { return rest_; }

 private:
  static uint64_t number(std::string_view bytes) {
    uint64_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;) {
      value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
  }

  std::string_view rest_;
};

}  // namespace

ParsedRequest parseRequestBytes(std::string_view bytes) {
  try {
    qv::parseRequest(bytes);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::runtime_error& refusal) {
    throw RequestRefused(refusal.what());
  }

  Cursor in(bytes);
  ParsedRequest parsed;
  RequestFields& f = parsed.fields;
  f.signature = std::string(in.take(8));
  f.protocolVersion = in.u32();
  f.verifyOnly = in.u8();
  f.conflictPolicy = in.u8();
  f.verificationMode = in.u8();
  f.reserved = in.u8();
  f.workerCount = in.u32();
  f.minimumWorkerCount = in.u32();
  f.verifyWorkerCount = in.u32();
  f.bufferSize = in.u32();
  f.retryCount = in.u32();
  f.optionFlags = in.u32();
  f.smallFileThreshold = in.u32();
  f.readAheadQueueFiles = in.u32();
  f.memoryBudgetMiB = in.u32();
  f.destinationRoot = in.text();
  for (uint32_t n = in.u32(); n > 0; --n) f.sourceRoots.push_back(in.text());
  for (uint32_t n = in.u32(); n > 0; --n) {
    FileEntryFields file;
    file.sourcePath = in.text();
    file.readPath = in.text();
    file.destinationPath = in.text();
    file.size = in.u64();
    file.lastWriteTime = in.u64();
    f.files.push_back(std::move(file));
  }
  for (uint32_t n = in.u32(); n > 0; --n) {
    DirectoryEntryFields directory;
    directory.sourcePath = in.text();
    directory.readPath = in.text();
    directory.destinationPath = in.text();
    f.directories.push_back(std::move(directory));
  }
  parsed.trailing = std::string(in.rest());
  return parsed;
}

}  // namespace qv::tools
