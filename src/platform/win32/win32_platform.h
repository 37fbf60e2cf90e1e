// The Windows implementation of Platform: the wide file API, the system
// copier, CNG and the console. Its operations live in one file per purpose
// (win32_files.cpp, win32_copier.cpp, ...); this header only gathers them.
#ifndef QV_PLATFORM_WIN32_WIN32_PLATFORM_H_
#define QV_PLATFORM_WIN32_WIN32_PLATFORM_H_

#include "platform/platform.h"

namespace qv::win32 {

class Win32Platform final : public Platform {
 public:
  // win32_platform.cpp
  PathStyle pathStyle() const override;
  uint32_t processId() override;
  uint32_t logicalProcessorCount() override;
  void prepareStandardStreams() override;
  bool isNotFoundFamily(SysError code) const override;
  bool isAlreadyExists(SysError code) const override;
  bool isAccessDenied(SysError code) const override;
  SysError pathNotFoundError() const override;
  SysError diskFullError() const override;
  uint32_t normalAttributes() const override;
  uint32_t attributesToPreserve(const FileInfo& source) const override;

  // win32_errors.cpp
  std::u16string systemErrorMessage(SysError code) override;
  std::string errorNumberLabel() const override;

  // win32_stdin.cpp
  std::unique_ptr<LineReader> openStandardInput() override;

  // win32_metadata.cpp
  SysError queryPath(const std::u16string& path, LinkMode mode,
                     FileInfo& info) override;
  SysError readFileInfo(const std::u16string& path, FileInfo& info) override;
  SysError openForMetadataWrite(const std::u16string& path,
                                std::unique_ptr<MetadataWriter>& out) override;
  SysError setAttributes(const std::u16string& path,
                         uint32_t attributes) override;

  // win32_files.cpp
  SysError readWholeFile(const std::u16string& path,
                         std::string& contents) override;
  SysError openForRead(const std::u16string& path, ReadPurpose purpose,
                       std::unique_ptr<ReadableFile>& out) override;
  SysError createStagingFile(const std::u16string& path,
                             std::unique_ptr<WritableFile>& out) override;
  SysError removeFile(const std::u16string& path) override;
  SysError renameFile(const std::u16string& from, const std::u16string& to,
                      ExistingTarget existing) override;
  SysError createDirectory(const std::u16string& path) override;

  // win32_directory.cpp
  SysError listDirectory(
      const std::u16string& path,
      const std::function<bool(const DirectoryEntry&)>& visit) override;

  // win32_final_path.cpp
  SysError finalPath(const std::u16string& path, std::u16string& out) override;

  // win32_copier.cpp
  SysError copySmallFile(const std::u16string& source,
                         const std::u16string& target,
                         ExistingTarget existing) override;
  SysError copyLargeFile(
      const std::u16string& source, const std::u16string& target,
      ExistingTarget existing,
      const std::function<CopyProgress(uint64_t totalTransferred)>& progress)
      override;

  // win32_sha256.cpp
  void beginFolderReuse() override;
  void endFolderReuse() override;

  std::unique_ptr<Sha256> createSha256(Sha256Failure& failure) override;
};

}  // namespace qv::win32

#endif  // QV_PLATFORM_WIN32_WIN32_PLATFORM_H_
