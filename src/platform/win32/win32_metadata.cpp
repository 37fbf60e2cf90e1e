#include <windows.h>

#include "platform/win32/win32_file_info.h"
#include "platform/win32/win32_open.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace qv::win32 {

namespace {

class Win32MetadataWriter final : public MetadataWriter {
 public:
  explicit Win32MetadataWriter(UniqueHandle handle) : handle_(std::move(handle)) {}

  SysError setTimes(const FileInfo& source) override {
    return writeHandleTimes(handle_.get(), source);
  }

 private:
  UniqueHandle handle_;
};

// Whether the reparse point at `path` is one the system treats as the file
// or folder it stands for, rather than a symbolic link or junction. A tag
// that cannot be read counts as a link: the caller then leaves it alone
// rather than follow something unknown.
bool isOtherReparsePoint(const std::u16string& path) {
  SysError error = 0;
  UniqueHandle handle =
      openExisting(path, FILE_READ_ATTRIBUTES,
                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, error);
  if (!handle) return false;
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag,
                                    sizeof(tag))) {
    return false;
  }
  // Without the reparse bit on the link's own handle the tag means nothing
  // (a compatibility layer may show a link that way).
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return tag.ReparseTag != IO_REPARSE_TAG_SYMLINK &&
         tag.ReparseTag != IO_REPARSE_TAG_MOUNT_POINT;
}

}  // namespace

SysError Win32Platform::queryPath(const std::u16string& path, LinkMode mode,
                                  FileInfo& info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) {
    return lastError();
  }
  bool reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // Only a reparse point can lead elsewhere; anything else is answered
  // without opening it.
  if (reparse && mode == LinkMode::Follow) return readFileInfo(path, info);
  info = fromAttributeData(data);
  if (reparse) info.isOtherReparsePoint = isOtherReparsePoint(path);
  return 0;
}

SysError Win32Platform::readFileInfo(const std::u16string& path, FileInfo& info) {
  SysError error = 0;
  UniqueHandle handle =
      openExisting(path, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS, error);
  if (!handle) return error;
  return readHandleInformation(handle.get(), info);
}

SysError Win32Platform::openForMetadataWrite(const std::u16string& path,
                                             std::unique_ptr<MetadataWriter>& out) {
  SysError error = 0;
  UniqueHandle handle =
      openExisting(path, FILE_WRITE_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS, error);
  if (!handle) return error;
  out = std::make_unique<Win32MetadataWriter>(std::move(handle));
  return 0;
}

SysError Win32Platform::setAttributes(const std::u16string& path,
                                      uint32_t attributes) {
  if (!SetFileAttributesW(wide(path), attributes)) return lastError();
  return 0;
}

}  // namespace qv::win32
