#include <windows.h>

#include <exception>

#include "platform/win32/win32_file_info.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace qv::win32 {

namespace {

using CopyFile2Function = HRESULT(WINAPI*)(PCWSTR, PCWSTR,
                                           COPYFILE2_EXTENDED_PARAMETERS*);

// CopyFile2 exists from Windows 8 on. Some systems that run Windows
// programs export no such function, and calling through a missing import
// ends the process, so it is looked up once at run time.
CopyFile2Function findCopyFile2() {
  static const CopyFile2Function function = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC address = kernel ? GetProcAddress(kernel, "CopyFile2") : nullptr;
    return reinterpret_cast<CopyFile2Function>(reinterpret_cast<void*>(address));
  }();
  return function;
}

DWORD copyFlags(ExistingTarget existing) {
  return existing == ExistingTarget::Fail ? COPY_FILE_FAIL_IF_EXISTS : 0;
}

struct ProgressContext {
  const std::function<CopyProgress(uint64_t)>* progress;
  // An exception must not unwind through the system copier's frames: it is
  // held here, the copy is cancelled, and it is raised again afterwards.
  std::exception_ptr failure;
};

DWORD CALLBACK copyProgressRoutine(LARGE_INTEGER /*totalFileSize*/,
                                   LARGE_INTEGER totalBytesTransferred,
                                   LARGE_INTEGER /*streamSize*/,
                                   LARGE_INTEGER /*streamBytesTransferred*/,
                                   DWORD /*streamNumber*/, DWORD /*callbackReason*/,
                                   HANDLE /*sourceFile*/, HANDLE /*destinationFile*/,
                                   LPVOID data) {
  auto* context = static_cast<ProgressContext*>(data);
  uint64_t total = totalBytesTransferred.QuadPart < 0
                       ? 0
                       : static_cast<uint64_t>(totalBytesTransferred.QuadPart);
  try {
    return (*context->progress)(total) == CopyProgress::Cancel ? PROGRESS_CANCEL
                                                               : PROGRESS_CONTINUE;
  } catch (...) {
    context->failure = std::current_exception();
    return PROGRESS_CANCEL;
  }
}

}  // namespace

SysError Win32Platform::copySmallFile(const std::u16string& source,
                                      const std::u16string& target,
                                      ExistingTarget existing) {
  CopyFile2Function copyFile2 = findCopyFile2();
  if (copyFile2 == nullptr) {
    if (!CopyFileExW(wide(source), wide(target), nullptr, nullptr, nullptr,
                     copyFlags(existing))) {
      return lastError();
    }
    return 0;
  }
  COPYFILE2_EXTENDED_PARAMETERS parameters = {};
  static_assert(sizeof(void*) != 8 || sizeof(parameters) == 32,
                "the copier's parameter block is 32 bytes on 64-bit Windows");
  parameters.dwSize = sizeof(parameters);
  parameters.dwCopyFlags = copyFlags(existing);
  HRESULT result = copyFile2(wide(source), wide(target), &parameters);
  if (result >= 0) return 0;
  // Failures are HRESULT_FROM_WIN32 codes: the low 16 bits are the Win32
  // error. A failure without one keeps its whole HRESULT rather than read
  // as success.
  SysError code = static_cast<SysError>(result) & 0xFFFFu;
  return code != 0 ? code : static_cast<SysError>(result);
}

SysError Win32Platform::copyLargeFile(
    const std::u16string& source, const std::u16string& target,
    ExistingTarget existing,
    const std::function<CopyProgress(uint64_t totalTransferred)>& progress) {
  ProgressContext context{&progress, nullptr};
  // The copy stops through the routine's answer, never through this flag.
  BOOL cancel = FALSE;
  LPPROGRESS_ROUTINE routine = progress ? copyProgressRoutine : nullptr;
  BOOL ok = CopyFileExW(wide(source), wide(target), routine, &context, &cancel,
                        copyFlags(existing));
  SysError error = ok ? 0 : lastError();
  if (context.failure) std::rethrow_exception(context.failure);
  return error;
}

}  // namespace qv::win32
