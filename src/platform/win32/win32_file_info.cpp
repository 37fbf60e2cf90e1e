#include "platform/win32/win32_file_info.h"

namespace qv::win32 {

namespace {

uint64_t joinHalves(DWORD high, DWORD low) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace

FileTime fromFiletime(const FILETIME& time) {
  FileTime result;
  result.ticks = joinHalves(time.dwHighDateTime, time.dwLowDateTime);
  return result;
}

FILETIME toFiletime(const FileTime& time) {
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(time.ticks & 0xFFFFFFFFu);
  result.dwHighDateTime = static_cast<DWORD>(time.ticks >> 32);
  return result;
}

FileInfo fromHandleInformation(const BY_HANDLE_FILE_INFORMATION& data) {
  FileInfo info;
  info.attributes = data.dwFileAttributes;
  info.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // A handle opened without FILE_FLAG_OPEN_REPARSE_POINT stands for what a
  // link leads to, so it is never reported as a link; the attribute word
  // keeps the bit of a reparse point the system opens as it is.
  info.isLink = false;
  info.creationTime = fromFiletime(data.ftCreationTime);
  info.lastAccessTime = fromFiletime(data.ftLastAccessTime);
  info.lastWriteTime = fromFiletime(data.ftLastWriteTime);
  info.size = joinHalves(data.nFileSizeHigh, data.nFileSizeLow);
  info.volumeId = data.dwVolumeSerialNumber;
  info.fileIndex = joinHalves(data.nFileIndexHigh, data.nFileIndexLow);
  info.linkCount = data.nNumberOfLinks;
  return info;
}

FileInfo fromAttributeData(const WIN32_FILE_ATTRIBUTE_DATA& data) {
  FileInfo info;
  info.attributes = data.dwFileAttributes;
  info.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  info.creationTime = fromFiletime(data.ftCreationTime);
  info.lastAccessTime = fromFiletime(data.ftLastAccessTime);
  info.lastWriteTime = fromFiletime(data.ftLastWriteTime);
  info.size = joinHalves(data.nFileSizeHigh, data.nFileSizeLow);
  return info;
}

SysError readHandleInformation(HANDLE handle, FileInfo& info) {
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(handle, &data)) return lastError();
  info = fromHandleInformation(data);
  return 0;
}

SysError writeHandleTimes(HANDLE handle, const FileInfo& source) {
  FILETIME creation = toFiletime(source.creationTime);
  FILETIME access = toFiletime(source.lastAccessTime);
  FILETIME write = toFiletime(source.lastWriteTime);
  if (!SetFileTime(handle, &creation, &access, &write)) return lastError();
  return 0;
}

SysError lastError(SysError fallback) {
  DWORD code = GetLastError();
  return code != 0 ? static_cast<SysError>(code) : fallback;
}

}  // namespace qv::win32
