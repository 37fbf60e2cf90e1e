#include "frontend/request_parse.h"

#include <cstdint>

namespace qv::tools {

const char kUnableToOpenRequest[] = "Unable to open the native worker request.";

namespace {

constexpr uint32_t kMaxStringBytes = 16777216;
constexpr uint32_t kMaxSourceRoots = 1000000;
constexpr uint32_t kMaxEntries = 100000000;

class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : rest_(bytes) {}

  std::string_view take(size_t n) {
    if (rest_.size() < n) {
      throw RequestRefused("The native worker request ended unexpectedly.");
    }
    std::string_view head = rest_.substr(0, n);
    rest_.remove_prefix(n);
    return head;
  }
  uint8_t u8() { return static_cast<uint8_t>(take(1)[0]); }
  uint32_t u32() { return static_cast<uint32_t>(number(take(4))); }
  uint64_t u64() { return number(take(8)); }

  // The length is judged before any of the string's bytes is read, as the
  // worker does, so an oversized length at the end of the file is "too large".
  std::string text() {
    const uint32_t length = u32();
    if (length > kMaxStringBytes) {
      throw RequestRefused("A native worker request string is too large.");
    }
    std::string_view bytes = take(length);
    if (!isStrictUtf8(bytes)) {
      throw RequestRefused("A native worker request path is not valid UTF-8.");
    }
    return std::string(bytes);
  }

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

uint32_t count(Cursor& in, uint32_t limit, const char* tooMany) {
  const uint32_t n = in.u32();
  if (n > limit) throw RequestRefused(tooMany);
  return n;
}

}  // namespace

bool isStrictUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + text.size();
  while (p != end) {
    const unsigned lead = *p++;
    if (lead < 0x80) continue;
    // The lead byte fixes the number of continuation bytes and narrows the
    // range of the first one; that is what rules out overlong forms,
    // surrogates and values above U+10FFFF.
    int trail = 0;
    unsigned low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    for (int i = 0; i < trail; ++i, low = 0x80, high = 0xBF) {
      if (p == end || *p < low || *p > high) return false;
      ++p;
    }
  }
  return true;
}

ParsedRequest parseRequestBytes(std::string_view bytes) {
  Cursor in(bytes);
  ParsedRequest parsed;
  RequestFields& f = parsed.fields;
  f.signature = std::string(in.take(8));
  if (f.signature != "QVCWREQ1") {
    throw RequestRefused("The native worker request has an invalid signature.");
  }
  f.protocolVersion = in.u32();
  if (f.protocolVersion != 3) {
    throw RequestRefused("The app and native worker protocol versions do not match.");
  }
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

  // Entries are appended as read, never reserved from the count: a count
  // larger than the file can hold ends as a short read, as in the worker.
  for (uint32_t n = count(in, kMaxSourceRoots,
                          "The native worker request has too many source roots.");
       n > 0; --n) {
    f.sourceRoots.push_back(in.text());
  }
  for (uint32_t n = count(in, kMaxEntries, "The native worker request has too many files.");
       n > 0; --n) {
    FileEntryFields file;
    file.sourcePath = in.text();
    file.readPath = in.text();
    file.destinationPath = in.text();
    file.size = in.u64();
    file.lastWriteTime = in.u64();
    f.files.push_back(std::move(file));
  }
  for (uint32_t n = count(in, kMaxEntries,
                          "The native worker request has too many directories.");
       n > 0; --n) {
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
