#include "request/request_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"

namespace qv {
namespace {

constexpr std::string_view kSignature = "QVCWREQ1";
constexpr uint32_t kProtocolVersion = 3;
constexpr uint32_t kMaxStringBytes = 16777216;
constexpr uint32_t kMaxSourceRoots = 1000000;
constexpr uint32_t kMaxFiles = 100000000;
constexpr uint32_t kMaxDirectories = 100000000;

// The fewest bytes one list entry can occupy: a string is at least its
// length prefix, a file entry three strings and two 64-bit numbers.
constexpr size_t kMinStringBytes = 4;
constexpr size_t kMinFileEntryBytes = 3 * kMinStringBytes + 8 + 8;
constexpr size_t kMinDirectoryEntryBytes = 3 * kMinStringBytes;

[[noreturn]] void refuse(const char* message) {
  throw std::runtime_error(message);
}

// Consumes the image front to back; every read that finds too few bytes
// refuses the request.
class RequestCursor {
 public:
  explicit RequestCursor(std::string_view bytes) : rest_(bytes) {}

  size_t remaining() const { return rest_.size(); }

  std::string_view take(size_t n) {
    if (rest_.size() < n) refuse(kRequestEndedUnexpectedly);
    std::string_view head = rest_.substr(0, n);
    rest_.remove_prefix(n);
    return head;
  }

  uint8_t u8() { return static_cast<uint8_t>(take(1)[0]); }
  uint32_t u32() { return static_cast<uint32_t>(littleEndian(take(4))); }
  uint64_t u64() { return littleEndian(take(8)); }

  // The length is checked before any of the string's bytes is read, so an
  // oversized length is refused as too large even when the file ends there.
  std::u16string text() {
    const uint32_t length = u32();
    if (length > kMaxStringBytes) refuse(kRequestStringTooLarge);
    std::u16string decoded;
    if (length != 0 && !utf8ToUtf16Strict(take(length), decoded)) {
      refuse(kRequestStringNotUtf8);
    }
    return decoded;
  }

 private:
  static uint64_t littleEndian(std::string_view bytes) {
    uint64_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;) {
      value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
  }

  std::string_view rest_;
};

// A count within its limit can still claim far more entries than the file
// holds; reserving it as given would let a few bytes allocate gigabytes. The
// entries the bytes cannot hold end the parse as a short read instead.
template <typename T>
void reserveEntries(std::vector<T>& list, uint32_t count,
                    const RequestCursor& in, size_t minEntryBytes) {
  list.reserve(std::min<size_t>(count, in.remaining() / minEntryBytes));
}

}  // namespace

LoadedRequest parseRequest(std::string_view bytes) {
  RequestCursor in(bytes);
  if (in.take(kSignature.size()) != kSignature) {
    refuse(kRequestInvalidSignature);
  }
  if (in.u32() != kProtocolVersion) refuse(kRequestVersionMismatch);

  // The file order differs from the record's declaration order.
  LoadedRequest loaded;
  WorkerRequest& request = loaded.request;
  JobPlan& plan = loaded.plan;
  request.verifyOnly = in.u8();
  request.conflictPolicy = in.u8();
  request.verificationMode = in.u8();
  in.u8();  // reserved
  request.workerCount = in.u32();
  request.minimumWorkerCount = in.u32();
  request.verifyWorkerCount = in.u32();
  request.bufferSize = in.u32();
  request.retryCount = in.u32();
  request.optionFlags = in.u32();
  request.smallFileThreshold = in.u32();
  request.readAheadQueueFiles = in.u32();
  request.memoryBudgetMiB = in.u32();
  request.destinationRoot = in.text();

  const uint32_t rootCount = in.u32();
  if (rootCount > kMaxSourceRoots) refuse(kRequestTooManySourceRoots);
  reserveEntries(request.sourceRoots, rootCount, in, kMinStringBytes);
  for (uint32_t i = 0; i < rootCount; ++i) {
    request.sourceRoots.push_back(in.text());
  }

  const uint32_t fileCount = in.u32();
  if (fileCount > kMaxFiles) refuse(kRequestTooManyFiles);
  reserveEntries(plan.files, fileCount, in, kMinFileEntryBytes);
  for (uint32_t i = 0; i < fileCount; ++i) {
    PlannedFile file;
    file.sourcePath = in.text();
    file.readPath = in.text();
    file.destinationPath = in.text();
    file.size = in.u64();
    file.lastWriteTime = in.u64();
    plan.files.push_back(std::move(file));
  }

  const uint32_t directoryCount = in.u32();
  if (directoryCount > kMaxDirectories) refuse(kRequestTooManyDirectories);
  reserveEntries(plan.directories, directoryCount, in,
                 kMinDirectoryEntryBytes);
  for (uint32_t i = 0; i < directoryCount; ++i) {
    PlannedDirectory directory;
    directory.sourcePath = in.text();
    directory.readPath = in.text();
    directory.destinationPath = in.text();
    plan.directories.push_back(std::move(directory));
  }
  return loaded;
}

}  // namespace qv
