#include <windows.h>

#include "base/path_style.h"
#include "platform/win32/win32_file_info.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace qv::win32 {

namespace {

// The pattern that lists everything in `folder`: `folder\*`, with no second
// separator after one already there and none after a bare drive, which
// stays drive-relative (`C:*`).
std::u16string everythingIn(const std::u16string& folder) {
  std::u16string pattern = folder;
  const bool bareDrive = folder.size() == 2 && startsWithDriveDesignator(folder);
  if (!folder.empty() && !bareDrive && !isSeparator(PathStyle::Windows, folder.back())) {
    pattern.push_back(preferredSeparator(PathStyle::Windows));
  }
  pattern.push_back(u'*');
  return pattern;
}

bool isDotOrDotDot(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == L'\0') ||
         (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

Platform::DirectoryEntry::Kind kindOf(DWORD attributes) {
  using Kind = Platform::DirectoryEntry::Kind;
  // A link to a folder carries the folder bit too; it is still a link.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Kind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Kind::Directory;
  return Kind::File;
}

}  // namespace

SysError Win32Platform::listDirectory(
    const std::u16string& path,
    const std::function<bool(const DirectoryEntry&)>& visit) {
  // The basic level leaves out the short 8.3 names, which the system would
  // otherwise look up for every entry.
  std::u16string pattern = everythingIn(path);
  WIN32_FIND_DATAW data;
  UniqueFindHandle search(FindFirstFileExW(wide(pattern), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0));
  if (!search) return lastError();
  DirectoryEntry entry;
  for (;;) {
    if (!isDotOrDotDot(data.cFileName)) {
      entry.name = fromWide(data.cFileName, wcslen(data.cFileName));
      entry.kind = kindOf(data.dwFileAttributes);
      if (!visit(entry)) return 0;
    }
    if (!FindNextFileW(search.get(), &data)) {
      DWORD error = GetLastError();
      return error == ERROR_NO_MORE_FILES ? 0 : static_cast<SysError>(error);
    }
  }
}

}  // namespace qv::win32
