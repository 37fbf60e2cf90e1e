// Conversions between the system's file records and FileInfo.
#ifndef QV_PLATFORM_WIN32_WIN32_FILE_INFO_H_
#define QV_PLATFORM_WIN32_WIN32_FILE_INFO_H_

#include <windows.h>

#include "platform/platform.h"

namespace qv::win32 {

FileTime fromFiletime(const FILETIME& time);
FILETIME toFiletime(const FileTime& time);

FileInfo fromHandleInformation(const BY_HANDLE_FILE_INFORMATION& data);
// Has no volume, index or link count: those stay 0.
FileInfo fromAttributeData(const WIN32_FILE_ATTRIBUTE_DATA& data);

// GetFileInformationByHandle on an open handle.
SysError readHandleInformation(HANDLE handle, FileInfo& info);
// SetFileTime with the creation, last-access and last-write times of
// `source`, all three given.
SysError writeHandleTimes(HANDLE handle, const FileInfo& source);

// The last error of the calling thread; never 0, so a failed call that left
// no code still reads as a failure (`fallback` stands in for the missing
// code).
SysError lastError(SysError fallback = ERROR_GEN_FAILURE);

}  // namespace qv::win32

#endif  // QV_PLATFORM_WIN32_WIN32_FILE_INFO_H_
