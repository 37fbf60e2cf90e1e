// The Linux implementation of Platform.
//
// Its operations live in files by purpose: posix_files.cpp (files, folders,
// metadata), posix_copier.cpp (the system copier), posix_sha256.cpp,
// posix_stdin.cpp and posix_platform.cpp (text, process and machine).
#ifndef QV_PLATFORM_POSIX_POSIX_PLATFORM_H_
#define QV_PLATFORM_POSIX_POSIX_PLATFORM_H_

#include "platform/platform.h"

namespace qv::posix {

class PosixPlatform final : public Platform {
 public:
  PathStyle pathStyle() const override;
  std::u16string systemErrorMessage(SysError code) override;
  std::string errorNumberLabel() const override;
  uint32_t processId() override;
  uint32_t logicalProcessorCount() override;
  void prepareStandardStreams() override;
  std::unique_ptr<LineReader> openStandardInput() override;

  bool isNotFoundFamily(SysError code) const override;
  bool isAlreadyExists(SysError code) const override;
  bool isAccessDenied(SysError code) const override;
  SysError pathNotFoundError() const override;
  SysError diskFullError() const override;

  SysError readWholeFile(const std::u16string& path,
                         std::string& contents) override;

  SysError queryPath(const std::u16string& path, LinkMode mode,
                     FileInfo& info) override;
  SysError readFileInfo(const std::u16string& path, FileInfo& info) override;
  SysError openForMetadataWrite(const std::u16string& path,
                                std::unique_ptr<MetadataWriter>& out) override;
  SysError setAttributes(const std::u16string& path,
                         uint32_t attributes) override;
  uint32_t normalAttributes() const override;
  uint32_t attributesToPreserve(const FileInfo& source) const override;

  SysError openForRead(const std::u16string& path, ReadPurpose purpose,
                       std::unique_ptr<ReadableFile>& out) override;
  SysError createStagingFile(const std::u16string& path,
                             std::unique_ptr<WritableFile>& out) override;
  SysError removeFile(const std::u16string& path) override;
  SysError renameFile(const std::u16string& from, const std::u16string& to,
                      ExistingTarget existing) override;
  SysError createDirectory(const std::u16string& path) override;
  SysError listDirectory(
      const std::u16string& path,
      const std::function<bool(const DirectoryEntry&)>& visit) override;
  SysError finalPath(const std::u16string& path, std::u16string& out) override;

  SysError copySmallFile(const std::u16string& source,
                         const std::u16string& target,
                         ExistingTarget existing) override;
  SysError copyLargeFile(
      const std::u16string& source, const std::u16string& target,
      ExistingTarget existing,
      const std::function<CopyProgress(uint64_t totalTransferred)>& progress)
      override;

  void beginFolderReuse() override;
  void endFolderReuse() override;

  std::unique_ptr<Sha256> createSha256(Sha256Failure& failure) override;
};

}  // namespace qv::posix

#endif  // QV_PLATFORM_POSIX_POSIX_PLATFORM_H_
