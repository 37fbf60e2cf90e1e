#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace qv {

Platform& systemPlatform() {
  static win32::Win32Platform platform;
  return platform;
}

namespace win32 {

PathStyle Win32Platform::pathStyle() const { return PathStyle::Windows; }

uint32_t Win32Platform::processId() { return GetCurrentProcessId(); }

uint32_t Win32Platform::logicalProcessorCount() {
  // Counts every processor group, not only the caller's (more than 64
  // logical processors come in several groups).
  DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  if (count == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    count = info.dwNumberOfProcessors;
  }
  return count > 0 ? count : 1;
}

// A write to a pipe whose reader has gone just fails on Windows (there is no
// signal), and the event stream ignores the failure: only the code page.
void Win32Platform::prepareStandardStreams() { SetConsoleOutputCP(CP_UTF8); }

bool Win32Platform::isNotFoundFamily(SysError code) const {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return true;
    default:
      return false;
  }
}

bool Win32Platform::isAlreadyExists(SysError code) const {
  // CreateDirectoryW and MoveFileExW answer 183, CreateFileW with
  // CREATE_NEW and the copiers' fail-if-exists answer 80.
  return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
}

bool Win32Platform::isAccessDenied(SysError code) const {
  return code == ERROR_ACCESS_DENIED;
}

SysError Win32Platform::pathNotFoundError() const { return ERROR_PATH_NOT_FOUND; }

SysError Win32Platform::diskFullError() const { return ERROR_DISK_FULL; }

uint32_t Win32Platform::normalAttributes() const { return FILE_ATTRIBUTE_NORMAL; }

uint32_t Win32Platform::attributesToPreserve(const FileInfo& source) const {
  uint32_t kept = source.attributes &
                  ~static_cast<uint32_t>(FILE_ATTRIBUTE_DIRECTORY |
                                         FILE_ATTRIBUTE_REPARSE_POINT);
  return kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
}

// Every Win32 call here takes a whole path (the relative-open forms are
// native-API only), so there is no folder to reuse.
void Win32Platform::beginFolderReuse() {}
void Win32Platform::endFolderReuse() {}

}  // namespace win32
}  // namespace qv
