#include "request_writer/request_writer.h"

#include <stdexcept>
#include <utility>

namespace qv::tools {
namespace {

void appendLittleEndian(std::string& out, uint64_t value, int byteCount) {
  for (int i = 0; i < byteCount; ++i) {
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

uint32_t countOf(const std::optional<uint32_t>& override, size_t size) {
  return override ? *override : static_cast<uint32_t>(size);
}

}  // namespace

RequestBytes& RequestBytes::u8(uint8_t value) {
  appendLittleEndian(bytes_, value, 1);
  return *this;
}

RequestBytes& RequestBytes::u32(uint32_t value) {
  appendLittleEndian(bytes_, value, 4);
  return *this;
}

RequestBytes& RequestBytes::u64(uint64_t value) {
  appendLittleEndian(bytes_, value, 8);
  return *this;
}

RequestBytes& RequestBytes::raw(std::string_view bytes) {
  bytes_.append(bytes);
  return *this;
}

RequestBytes& RequestBytes::str(std::string_view bytes) {
  return rawStr(static_cast<uint32_t>(bytes.size()), bytes);
}

RequestBytes& RequestBytes::rawStr(uint32_t declaredLength,
                                   std::string_view bytes) {
  return u32(declaredLength).raw(bytes);
}

std::string writeRequest(const RequestFields& f, RequestOffsets* offsets) {
  RequestOffsets at;
  RequestBytes out;
  // Records where the next field starts.
  auto mark = [&out](size_t& offset) -> RequestBytes& {
    offset = out.size();
    return out;
  };

  mark(at.signature).raw(f.signature);
  mark(at.protocolVersion).u32(f.protocolVersion);
  mark(at.verifyOnly).u8(f.verifyOnly);
  mark(at.conflictPolicy).u8(f.conflictPolicy);
  mark(at.verificationMode).u8(f.verificationMode);
  mark(at.reserved).u8(f.reserved);
  mark(at.workerCount).u32(f.workerCount);
  mark(at.minimumWorkerCount).u32(f.minimumWorkerCount);
  mark(at.verifyWorkerCount).u32(f.verifyWorkerCount);
  mark(at.bufferSize).u32(f.bufferSize);
  mark(at.retryCount).u32(f.retryCount);
  mark(at.optionFlags).u32(f.optionFlags);
  mark(at.smallFileThreshold).u32(f.smallFileThreshold);
  mark(at.readAheadQueueFiles).u32(f.readAheadQueueFiles);
  mark(at.memoryBudgetMiB).u32(f.memoryBudgetMiB);
  mark(at.destinationRoot).str(f.destinationRoot);

  mark(at.sourceRootCount).u32(countOf(f.sourceRootCount, f.sourceRoots.size()));
  for (const std::string& root : f.sourceRoots) {
    mark(at.sourceRoots.emplace_back()).str(root);
  }

  mark(at.fileCount).u32(countOf(f.fileCount, f.files.size()));
  for (const FileEntryFields& file : f.files) {
    FileEntryOffsets& e = at.files.emplace_back();
    mark(e.sourcePath).str(file.sourcePath);
    mark(e.readPath).str(file.readPath);
    mark(e.destinationPath).str(file.destinationPath);
    mark(e.size).u64(file.size);
    mark(e.lastWriteTime).u64(file.lastWriteTime);
  }

  mark(at.directoryCount).u32(countOf(f.directoryCount, f.directories.size()));
  for (const DirectoryEntryFields& directory : f.directories) {
    DirectoryEntryOffsets& e = at.directories.emplace_back();
    mark(e.sourcePath).str(directory.sourcePath);
    mark(e.readPath).str(directory.readPath);
    mark(e.destinationPath).str(directory.destinationPath);
  }

  at.end = out.size();
  if (offsets != nullptr) *offsets = std::move(at);
  return out.bytes();
}

std::string truncateAt(std::string bytes, size_t length) {
  if (length < bytes.size()) bytes.resize(length);
  return bytes;
}

void patchU32(std::string& bytes, size_t offset, uint32_t value) {
  if (offset > bytes.size() || bytes.size() - offset < 4) {
    throw std::out_of_range("patchU32 past the end of the request bytes");
  }
  for (size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

}  // namespace qv::tools
