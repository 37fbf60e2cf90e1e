#include <windows.h>

#include <algorithm>

#include "platform/win32/win32_file_info.h"
#include "platform/win32/win32_open.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace qv::win32 {

namespace {

// ReadFile and WriteFile take a DWORD length.
constexpr size_t kLargestTransfer = 0xFFFFFFFFu;

DWORD chunkOf(size_t remaining) {
  return static_cast<DWORD>(std::min(remaining, kLargestTransfer));
}

// Reads until `size` bytes, the end of the file or a failure. A file gives
// short reads only at its end, so a buffer of up to 4 GiB - 1 costs exactly
// one ReadFile.
SysError readFully(HANDLE handle, char* buffer, size_t size, size_t& bytesRead) {
  bytesRead = 0;
  while (bytesRead < size) {
    DWORD asked = chunkOf(size - bytesRead);
    DWORD got = 0;
    if (!ReadFile(handle, buffer + bytesRead, asked, &got, nullptr)) {
      return lastError();
    }
    bytesRead += got;
    if (got < asked) break;
  }
  return 0;
}

class Win32ReadableFile final : public ReadableFile {
 public:
  explicit Win32ReadableFile(UniqueHandle handle) : handle_(std::move(handle)) {}

  SysError read(void* buffer, size_t size, size_t& bytesRead) override {
    return readFully(handle_.get(), static_cast<char*>(buffer), size, bytesRead);
  }

  SysError seek(uint64_t offset) override {
    // An offset past 2^63 turns negative and fails in the call, as it should.
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handle_.get(), distance, nullptr, FILE_BEGIN)) {
      return lastError();
    }
    return 0;
  }

  SysError info(FileInfo& out) override {
    return readHandleInformation(handle_.get(), out);
  }

 private:
  UniqueHandle handle_;
};

class Win32WritableFile final : public WritableFile {
 public:
  explicit Win32WritableFile(UniqueHandle handle) : handle_(std::move(handle)) {}

  SysError write(const void* data, size_t size, size_t& written) override {
    const char* bytes = static_cast<const char*>(data);
    written = 0;
    while (written < size) {
      DWORD got = 0;
      if (!WriteFile(handle_.get(), bytes + written, chunkOf(size - written),
                     &got, nullptr)) {
        return lastError();
      }
      // A write that moves nothing would loop for ever; no code explains
      // it, so it reads as a write fault.
      if (got == 0) return ERROR_WRITE_FAULT;
      written += got;
    }
    return 0;
  }

  SysError setTimes(const FileInfo& source) override {
    return writeHandleTimes(handle_.get(), source);
  }

  SysError setAttributes(uint32_t attributes) override {
    // Zero times leave the file's times as they are.
    FILE_BASIC_INFO info{};
    info.FileAttributes = attributes;
    if (!SetFileInformationByHandle(handle_.get(), FileBasicInfo, &info, sizeof info)) {
      return lastError();
    }
    return 0;
  }

  SysError close() override { return handle_.close(); }

 private:
  UniqueHandle handle_;
};

}  // namespace

SysError Win32Platform::readWholeFile(const std::u16string& path,
                                      std::string& contents) {
  contents.clear();
  UniqueHandle handle(CreateFileW(wide(path), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return lastError();
  // The size is only a hint: the file may change while it is read.
  LARGE_INTEGER size;
  if (GetFileSizeEx(handle.get(), &size) && size.QuadPart > 0 &&
      static_cast<uint64_t>(size.QuadPart) < contents.max_size()) {
    contents.reserve(static_cast<size_t>(size.QuadPart));
  }
  char chunk[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle.get(), chunk, sizeof(chunk), &got, nullptr)) {
      return lastError();
    }
    if (got == 0) return 0;
    contents.append(chunk, got);
  }
}

SysError Win32Platform::openForRead(const std::u16string& path,
                                    ReadPurpose purpose,
                                    std::unique_ptr<ReadableFile>& out) {
  // The read-ahead takes the file's information on the same handle; the
  // verification only reads.
  DWORD access = purpose == ReadPurpose::Sequential
                     ? GENERIC_READ | FILE_READ_ATTRIBUTES
                     : GENERIC_READ;
  SysError error = 0;
  UniqueHandle handle =
      openExisting(path, access, FILE_FLAG_SEQUENTIAL_SCAN, error);
  if (!handle) return error;
  out = std::make_unique<Win32ReadableFile>(std::move(handle));
  return 0;
}

SysError Win32Platform::createStagingFile(const std::u16string& path,
                                          std::unique_ptr<WritableFile>& out) {
  // CREATE_NEW fails on anything already at the path, but it follows a
  // dangling link there and creates the link's target. With
  // FILE_FLAG_OPEN_REPARSE_POINT the link itself is what exists, so nothing
  // but a new file is ever written. Others may read it meanwhile.
  UniqueHandle handle(CreateFileW(
      wide(path), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
      nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
  if (!handle) return lastError();
  out = std::make_unique<Win32WritableFile>(std::move(handle));
  return 0;
}

SysError Win32Platform::removeFile(const std::u16string& path) {
  if (!DeleteFileW(wide(path))) return lastError();
  return 0;
}

SysError Win32Platform::renameFile(const std::u16string& from,
                                   const std::u16string& to,
                                   ExistingTarget existing) {
  // No other flag: without MOVEFILE_COPY_ALLOWED the move stays one rename
  // on one volume, so the target appears whole or not at all.
  DWORD flags = existing == ExistingTarget::Replace ? MOVEFILE_REPLACE_EXISTING : 0;
  if (!MoveFileExW(wide(from), wide(to), flags)) return lastError();
  return 0;
}

SysError Win32Platform::createDirectory(const std::u16string& path) {
  if (!CreateDirectoryW(wide(path), nullptr)) return lastError();
  return 0;
}

}  // namespace qv::win32
