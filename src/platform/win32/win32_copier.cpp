#include <windows.h>

#include <exception>
#include <memory>

#include "platform/win32/win32_file_info.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_open.h"
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

// The system copiers write through a link at the target: over an existing
// target they overwrite the file the link leads to, and even with
// COPY_FILE_FAIL_IF_EXISTS they create the target of a dangling link. So the
// target is cleared here and the copier always runs fail-if-exists: a
// replace deletes whatever is at the path (a link is deleted, not its
// target), and anything still there, seen without following links, fails
// the copy as an existing target.
SysError prepareTarget(const std::u16string& target, ExistingTarget existing) {
  if (existing == ExistingTarget::Replace && !DeleteFileW(wide(target))) {
    SysError code = lastError();
    if (code != ERROR_FILE_NOT_FOUND) return code;
  }
  if (GetFileAttributesW(wide(target)) != INVALID_FILE_ATTRIBUTES) {
    return ERROR_FILE_EXISTS;
  }
  return 0;
}

constexpr DWORD kCopyFlags = COPY_FILE_FAIL_IF_EXISTS;

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

// A workaround for a copier that never reports progress: Wine's CopyFileExW
// never calls the progress routine, so a large copy there could neither
// show progress nor be cancelled. Wine is recognised by the
// wine_get_version export of its ntdll, looked up once. On Windows the
// system copier, with its progress routine, stays the one used.
bool copierReportsNoProgress() {
  static const bool underWine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return underWine;
}

// Between two progress reports: small enough that a pause or a cancel is
// noticed within a few milliseconds, large enough to keep the calls few.
constexpr DWORD kChunkSize = DWORD{8} << 20;

// The attributes SetFileAttributesW can give; the others (compression,
// encryption, sparse, reparse) belong to the file system's own handling.
constexpr DWORD kSettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
    FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// True when the copy may go on.
bool report(const std::function<CopyProgress(uint64_t)>& progress, uint64_t total) {
  return !progress || progress(total) == CopyProgress::Continue;
}

SysError writeAll(HANDLE handle, const char* data, DWORD size) {
  DWORD written = 0;
  while (written < size) {
    DWORD got = 0;
    if (!WriteFile(handle, data + written, size - written, &got, nullptr)) {
      return lastError();
    }
    // A write that moves nothing would loop for ever; no code explains it.
    if (got == 0) return ERROR_WRITE_FAULT;
    written += got;
  }
  return 0;
}

// The large copy done here, chunk by chunk, for a system whose copier
// never reports progress: it reports the running total after each chunk,
// stops as CopyFileExW does when the routine cancels, and leaves the target
// with the source's attributes and last-write time as CopyFileExW does.
// A failed or cancelled copy leaves what it created of the target behind:
// the caller, which knows whether the target was its own staging file,
// removes it.
SysError copyInChunks(const std::u16string& source, const std::u16string& target,
                      ExistingTarget existing,
                      const std::function<CopyProgress(uint64_t)>& progress) {
  SysError error = 0;
  UniqueHandle in = openExisting(source, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, error);
  if (!in) return error;
  BY_HANDLE_FILE_INFORMATION sourceInfo;
  if (!GetFileInformationByHandle(in.get(), &sourceInfo)) return lastError();

  // Lets a cancel or a pause take effect before the target is touched.
  if (!report(progress, 0)) return ERROR_REQUEST_ABORTED;

  // Replacing removes the old target and then creates the new one
  // exclusively, so the copy never writes through a link planted at the
  // target. Wine 8 shows a Unix symbolic link as the file it leads to: the
  // delete removes that file, and the link left behind fails the create.
  // A read-only target cannot be deleted and fails the copy, as it fails
  // CopyFileExW.
  if (existing == ExistingTarget::Replace && !DeleteFileW(wide(target))) {
    SysError code = lastError();
    if (code != ERROR_FILE_NOT_FOUND) return code;
  }
  UniqueHandle out(CreateFileW(wide(target), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN |
                                   FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr));
  if (!out) return lastError();

  // One buffer per thread, kept for its next copy: only threads that copy
  // large files under such a system pay for it.
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kChunkSize);
  uint64_t total = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in.get(), buffer.get(), kChunkSize, &got, nullptr)) {
      return lastError();
    }
    // Only the end of the file answers 0; a short read is not yet the end
    // of a file that grows meanwhile (the caller checks the source after).
    if (got == 0) break;
    if (SysError err = writeAll(out.get(), buffer.get(), got)) return err;
    total += got;
    if (!report(progress, total)) return ERROR_REQUEST_ABORTED;
  }

  // The last-write time goes on the open handle; the attributes are set by
  // path once it is closed, so nothing reaches the file after it may have
  // turned read-only.
  if (!SetFileTime(out.get(), nullptr, nullptr, &sourceInfo.ftLastWriteTime)) {
    return lastError();
  }
  if (SysError err = out.close()) return err;
  DWORD attributes = sourceInfo.dwFileAttributes & kSettableAttributes;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileAttributesW(wide(target), attributes)) return lastError();
  return 0;
}

}  // namespace

SysError Win32Platform::copySmallFile(const std::u16string& source,
                                      const std::u16string& target,
                                      ExistingTarget existing) {
  if (SysError err = prepareTarget(target, existing)) return err;
  CopyFile2Function copyFile2 = findCopyFile2();
  if (copyFile2 == nullptr) {
    if (!CopyFileExW(wide(source), wide(target), nullptr, nullptr, nullptr,
                     kCopyFlags)) {
      return lastError();
    }
    return 0;
  }
  COPYFILE2_EXTENDED_PARAMETERS parameters = {};
  static_assert(sizeof(void*) != 8 || sizeof(parameters) == 32,
                "the copier's parameter block is 32 bytes on 64-bit Windows");
  parameters.dwSize = sizeof(parameters);
  parameters.dwCopyFlags = kCopyFlags;
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
  if (copierReportsNoProgress()) {
    return copyInChunks(source, target, existing, progress);
  }
  if (SysError err = prepareTarget(target, existing)) return err;
  ProgressContext context{&progress, nullptr};
  // The copy stops through the routine's answer, never through this flag.
  BOOL cancel = FALSE;
  LPPROGRESS_ROUTINE routine = progress ? copyProgressRoutine : nullptr;
  BOOL ok = CopyFileExW(wide(source), wide(target), routine, &context, &cancel,
                        kCopyFlags);
  SysError error = ok ? 0 : lastError();
  if (context.failure) std::rethrow_exception(context.failure);
  return error;
}

}  // namespace qv::win32
