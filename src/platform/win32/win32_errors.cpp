#include <windows.h>

#include <memory>

#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace qv::win32 {

namespace {

struct LocalFreeDeleter {
  void operator()(wchar_t* buffer) const { LocalFree(buffer); }
};

}  // namespace

std::u16string Win32Platform::systemErrorMessage(SysError code) {
  // Language 0: the system's own search order (thread, user, system
  // language, then English). The text keeps its trailing line break: the
  // engine trims.
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER |
                      FORMAT_MESSAGE_FROM_SYSTEM |
                      FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(flags, nullptr, code, 0,
                                reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::unique_ptr<wchar_t, LocalFreeDeleter> owner(buffer);
  if (length == 0 || buffer == nullptr) return std::u16string();
  return fromWide(buffer, length);
}

std::string Win32Platform::errorNumberLabel() const { return "Windows error "; }

}  // namespace qv::win32
