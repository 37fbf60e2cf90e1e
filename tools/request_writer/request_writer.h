// Writes request files for tests: valid ones from a plain record, and broken
// ones through field offsets, count overrides and a raw byte builder. Not part
// of the worker, and deliberately independent of its reader so that the two
// check each other; only the option bits are shared.

#ifndef QV_TOOLS_REQUEST_WRITER_H_
#define QV_TOOLS_REQUEST_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "request/request.h"

namespace qv::tools {

// Appends little-endian integers and length-prefixed strings. Any byte
// sequence can be written, so it also builds files no valid request matches.
class RequestBytes {
 public:
  RequestBytes& u8(uint8_t value);
  RequestBytes& u32(uint32_t value);
  RequestBytes& u64(uint64_t value);
  // The bytes as they are, with no length prefix.
  RequestBytes& raw(std::string_view bytes);
  // A string field: its byte count, then its bytes (taken as they are, so
  // invalid UTF-8 passes through).
  RequestBytes& str(std::string_view bytes);
  // A string field whose length prefix need not match the bytes that follow.
  RequestBytes& rawStr(uint32_t declaredLength, std::string_view bytes);

  size_t size() const { return bytes_.size(); }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// The bits of `optionFlags`: the worker's own definitions, the one thing the
// writer takes from it.
using qv::kDirectWrite;
using qv::kFitWorkersToProcessors;
using qv::kPrePlanned;
using qv::kPreserveAttributes;
using qv::kPreserveTimestamps;
using qv::kSmallFileReadAhead;
using qv::kSuppressCompletedEvents;

struct FileEntryFields {
  std::string sourcePath;
  std::string readPath;
  std::string destinationPath;
  uint64_t size = 0;
  uint64_t lastWriteTime = 0;
};

struct DirectoryEntryFields {
  std::string sourcePath;
  std::string readPath;
  std::string destinationPath;
};

// Every field of the file, in file order. Strings hold UTF-8 bytes and are
// written unchecked, which is how a test injects invalid UTF-8. The defaults
// make a valid, empty copy job.
struct RequestFields {
  std::string signature = "QVCWREQ1";  // written as it stands, any length
  uint32_t protocolVersion = 3;
  uint8_t verifyOnly = 0;
  uint8_t conflictPolicy = 0;
  uint8_t verificationMode = 0;
  uint8_t reserved = 0;
  uint32_t workerCount = 8;
  uint32_t minimumWorkerCount = 1;
  uint32_t verifyWorkerCount = 0;
  uint32_t bufferSize = 4194304;
  uint32_t retryCount = 1;
  uint32_t optionFlags = 0;
  uint32_t smallFileThreshold = 262144;
  uint32_t readAheadQueueFiles = 128;
  uint32_t memoryBudgetMiB = 256;
  std::string destinationRoot;
  // A count written in place of its list's size, when set; the list's entries
  // are written as they are either way.
  std::optional<uint32_t> sourceRootCount = std::nullopt;
  std::vector<std::string> sourceRoots;
  std::optional<uint32_t> fileCount = std::nullopt;
  std::vector<FileEntryFields> files;
  std::optional<uint32_t> directoryCount = std::nullopt;
  std::vector<DirectoryEntryFields> directories;
};

// Where each field of a written request starts; a string's offset is that of
// its length prefix. Used to truncate or patch a file at a chosen field.
struct FileEntryOffsets {
  size_t sourcePath = 0;
  size_t readPath = 0;
  size_t destinationPath = 0;
  size_t size = 0;
  size_t lastWriteTime = 0;
};

struct DirectoryEntryOffsets {
  size_t sourcePath = 0;
  size_t readPath = 0;
  size_t destinationPath = 0;
};

struct RequestOffsets {
  size_t signature = 0;
  size_t protocolVersion = 0;
  size_t verifyOnly = 0;
  size_t conflictPolicy = 0;
  size_t verificationMode = 0;
  size_t reserved = 0;
  size_t workerCount = 0;
  size_t minimumWorkerCount = 0;
  size_t verifyWorkerCount = 0;
  size_t bufferSize = 0;
  size_t retryCount = 0;
  size_t optionFlags = 0;
  size_t smallFileThreshold = 0;
  size_t readAheadQueueFiles = 0;
  size_t memoryBudgetMiB = 0;
  size_t destinationRoot = 0;
  size_t sourceRootCount = 0;
  std::vector<size_t> sourceRoots;
  size_t fileCount = 0;
  std::vector<FileEntryOffsets> files;
  size_t directoryCount = 0;
  std::vector<DirectoryEntryOffsets> directories;
  size_t end = 0;  // the file's size
};

// The exact bytes of the request `fields` describes. When `offsets` is not
// null it receives where each field starts.
std::string writeRequest(const RequestFields& fields,
                         RequestOffsets* offsets = nullptr);

// The first `length` bytes of `bytes` (all of them when it is longer).
std::string truncateAt(std::string bytes, size_t length);

// Overwrites the four bytes at `offset` with `value`, little-endian: a raw
// string length or count. `offset + 4` must not exceed the size.
void patchU32(std::string& bytes, size_t offset, uint32_t value);

}  // namespace qv::tools

#endif  // QV_TOOLS_REQUEST_WRITER_H_
