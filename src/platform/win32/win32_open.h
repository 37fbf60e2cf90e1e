// The one way this platform opens an existing file or folder.
#ifndef QV_PLATFORM_WIN32_WIN32_OPEN_H_
#define QV_PLATFORM_WIN32_WIN32_OPEN_H_

#include <windows.h>

#include <string>

#include "platform/win32/win32_handles.h"

namespace qv::win32 {

// Read, write and delete sharing: the worker never keeps others from a file.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// CreateFileW(path, access, kShareAll, no security, OPEN_EXISTING, flags).
// On failure the handle is empty and `error` holds the last error.
UniqueHandle openExisting(const std::u16string& path, DWORD access, DWORD flags,
                          SysError& error);

}  // namespace qv::win32

#endif  // QV_PLATFORM_WIN32_WIN32_OPEN_H_
