#include <windows.h>

#include <vector>

#include "base/path_style.h"
#include "platform/win32/win32_file_info.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_open.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace qv::win32 {

namespace {

using CreateFile2Function = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, DWORD,
                                            LPCREATEFILE2_EXTENDED_PARAMETERS);

// CreateFile2 exists from Windows 8 on; where it is missing CreateFileW
// makes the same open.
CreateFile2Function findCreateFile2() {
  static const CreateFile2Function function = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC address = kernel ? GetProcAddress(kernel, "CreateFile2") : nullptr;
    return reinterpret_cast<CreateFile2Function>(reinterpret_cast<void*>(address));
  }();
  return function;
}

// Opens for attribute reading only, folders too; a link is followed, so
// the handle stands for its target.
UniqueHandle openForResolution(const std::u16string& path, SysError& error) {
  CreateFile2Function createFile2 = findCreateFile2();
  if (createFile2 == nullptr) {
    return openExisting(path, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS,
                        error);
  }
  CREATEFILE2_EXTENDED_PARAMETERS parameters = {};
  parameters.dwSize = sizeof(parameters);
  parameters.dwFileFlags = FILE_FLAG_BACKUP_SEMANTICS;
  UniqueHandle handle(createFile2(wide(path), FILE_READ_ATTRIBUTES, kShareAll,
                                  OPEN_EXISTING, &parameters));
  error = handle ? 0 : lastError();
  return handle;
}

bool startsWith(const std::u16string& text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         std::u16string_view(text).substr(0, prefix.size()) == prefix;
}

// The DOS answer in the form the engine works with: `\\?\C:\x` loses its
// prefix, `\\?\UNC\srv\share` becomes `\\srv\share`; volume GUID paths stay
// as the system gave them.
std::u16string withoutLongPrefix(std::u16string answer) {
  if (answer.size() >= 6 && startsWith(answer, u"\\\\?\\") &&
      startsWithDriveDesignator(std::u16string_view(answer).substr(4))) {
    answer.erase(0, 4);
  } else if (answer.size() >= 8 && startsWith(answer, u"\\\\?\\UNC\\")) {
    answer.erase(2, 6);
  }
  return answer;
}

}  // namespace

SysError Win32Platform::finalPath(const std::u16string& path, std::u16string& out) {
  out.clear();
  if (path.empty()) return 0;
  SysError error = 0;
  UniqueHandle handle = openForResolution(path, error);
  if (!handle) return error;

  DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  std::vector<wchar_t> buffer(260);
  DWORD length = 0;
  for (;;) {
    length = GetFinalPathNameByHandleW(handle.get(), buffer.data(),
                                       static_cast<DWORD>(buffer.size()), flags);
    if (length == 0) {
      DWORD failure = GetLastError();
      // A volume without a drive letter has no DOS name; its NT device
      // path still names it.
      if (failure == ERROR_PATH_NOT_FOUND && flags == VOLUME_NAME_DOS) {
        flags = VOLUME_NAME_NT;
        continue;
      }
      return failure != 0 ? static_cast<SysError>(failure) : ERROR_GEN_FAILURE;
    }
    // Too small: the answer is the size needed, terminator included. The
    // name may change between two calls, hence the loop.
    if (length >= buffer.size()) {
      buffer.resize(length);
      continue;
    }
    break;
  }
  std::u16string answer = fromWide(buffer.data(), length);
  out = flags == VOLUME_NAME_NT ? u"\\\\?\\GLOBALROOT" + answer
                                : withoutLongPrefix(std::move(answer));
  return 0;
}

}  // namespace qv::win32
