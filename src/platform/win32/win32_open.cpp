#include "platform/win32/win32_open.h"

#include "platform/win32/win32_file_info.h"
#include "platform/win32/win32_text.h"

namespace qv::win32 {

UniqueHandle openExisting(const std::u16string& path, DWORD access, DWORD flags,
                          SysError& error) {
  UniqueHandle handle(CreateFileW(wide(path), access, kShareAll, nullptr,
                                  OPEN_EXISTING, flags, nullptr));
  error = handle ? 0 : lastError();
  return handle;
}

}  // namespace qv::win32
