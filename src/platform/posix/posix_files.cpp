// Files, folders and metadata.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <utility>

#include "platform/posix/posix_fd.h"
#include "platform/posix/posix_file_info.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/posix_text.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

// fchmodat2 is 452 on every architecture (system calls added since Linux 5.1
// share one number); older C libraries do not name it.
#ifdef SYS_fchmodat2
constexpr long kSysFchmodat2 = SYS_fchmodat2;
#else
constexpr long kSysFchmodat2 = 452;
#endif

namespace qv::posix {
namespace {

using DirectoryEntry = Platform::DirectoryEntry;

// A source is opened without blocking: a FIFO given as a file would
// otherwise hang the open until a writer appears. Regular files ignore the
// flag.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

class PosixReadableFile final : public ReadableFile {
 public:
  explicit PosixReadableFile(UniqueFd fd) : fd_(std::move(fd)) {}

  SysError read(void* buffer, size_t size, size_t& bytesRead) override {
    return readFull(fd_.get(), buffer, size, bytesRead);
  }

  SysError seek(uint64_t offset) override {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
      return EINVAL;
    }
    if (lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
      return lastError();
    }
    return 0;
  }

  SysError info(FileInfo& out) override { return statDescriptor(fd_.get(), out); }

 private:
  UniqueFd fd_;
};

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(UniqueFd fd) : fd_(std::move(fd)) {}

  SysError write(const void* data, size_t size, size_t& written) override {
    written = 0;
    if (!fd_.valid()) return EBADF;
    return writeAll(fd_.get(), data, size, written);
  }

  SysError setTimes(const FileInfo& source) override {
    if (!fd_.valid()) return EBADF;
    timespec times[2];
    timesToSet(source, times);
    return futimens(fd_.get(), times) == 0 ? 0 : lastError();
  }

  SysError setAttributes(uint32_t attributes) override {
    if (!fd_.valid()) return EBADF;
    return fchmod(fd_.get(), static_cast<mode_t>(attributes & 07777)) == 0 ? 0 : lastError();
  }

  // A failed close is how some file systems (NFS, FUSE) report a write that
  // did not make it, so it is passed on.
  SysError close() override { return fd_.close(); }

 private:
  UniqueFd fd_;
};

// Sets times through the path, following links. An open descriptor would
// not help: utimensat with explicit times needs ownership either way, and
// opening for reading would also need read permission, which Windows'
// write-attributes open does not.
class PathMetadataWriter final : public MetadataWriter {
 public:
  explicit PathMetadataWriter(std::string path) : path_(std::move(path)) {}

  SysError setTimes(const FileInfo& source) override {
    timespec times[2];
    timesToSet(source, times);
    return utimensat(AT_FDCWD, path_.c_str(), times, 0) == 0 ? 0 : lastError();
  }

 private:
  std::string path_;
};

DirectoryEntry::Kind kindOf(unsigned char type) {
  switch (type) {
    case DT_DIR:
      return DirectoryEntry::Kind::Directory;
    case DT_REG:
      return DirectoryEntry::Kind::File;
    case DT_LNK:
      return DirectoryEntry::Kind::Link;
    case DT_UNKNOWN:
      return DirectoryEntry::Kind::Unknown;
    default:
      return DirectoryEntry::Kind::Other;
  }
}

// Renames without ever replacing `to`. renameat2 is called through
// syscall() so that a C library without its wrapper builds too. File systems
// without RENAME_NOREPLACE (NFS, some FUSE ones) answer EINVAL or
// EOPNOTSUPP; there a hard link claims `to` exclusively and the old name is
// then removed. Any other failure is the answer.
SysError renameWithoutReplace(AtPath from, AtPath to) {
  if (syscall(SYS_renameat2, from.folder, from.name, to.folder, to.name, RENAME_NOREPLACE) == 0) {
    return 0;
  }
  const int err = errno;
  if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) {
    return static_cast<SysError>(err);
  }
  if (linkat(from.folder, from.name, to.folder, to.name, 0) != 0) return lastError();
  if (unlinkat(from.folder, from.name, 0) != 0) {
    const SysError unlinkError = lastError();
    // Undo the link so that the caller sees the rename fail as a whole.
    unlinkat(to.folder, to.name, 0);
    return unlinkError;
  }
  return 0;
}

// Set once fchmodat2 turned out to be missing (kernels before 6.6).
std::atomic<bool> fchmodat2Missing{false};

// Changes the mode of the path itself: a link there (planted between a
// staging file's exclusive creation and this call, say) is refused with
// EOPNOTSUPP rather than followed, as Windows changes a link's own
// attributes. Kernels without fchmodat2 follow the link. A sandbox that
// refuses unknown calls with EPERM gets the plain call, which gives a real
// permission failure its own answer.
SysError changeModeWithoutFollowing(AtPath path, mode_t mode) {
  if (!fchmodat2Missing.load(std::memory_order_relaxed)) {
    if (syscall(kSysFchmodat2, path.folder, path.name, mode, AT_SYMLINK_NOFOLLOW) == 0) return 0;
    const int err = errno;
    if (err == ENOSYS) {
      fchmodat2Missing.store(true, std::memory_order_relaxed);
    } else if (err != EPERM) {
      return static_cast<SysError>(err);
    }
  }
  return fchmodat(path.folder, path.name, mode, 0) == 0 ? 0 : lastError();
}

}  // namespace

SysError PosixPlatform::readWholeFile(const std::u16string& path,
                                      std::string& contents) {
  contents.clear();
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  int raw = -1;
  if (SysError err = openRetrying(at(native), kReadFlags, 0, raw)) return err;
  UniqueFd fd(raw);
  // The size is a hint only: the file may grow or shrink while it is read,
  // and files in /proc report 0.
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return lastError();
  if (S_ISDIR(st.st_mode)) return EISDIR;
  size_t used = 0;
  contents.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096);
  for (;;) {
    size_t got = 0;
    SysError err = readFull(fd.get(), contents.data() + used,
                            contents.size() - used, got);
    used += got;
    if (err != 0) {
      contents.clear();
      return err;
    }
    if (used < contents.size()) break;
    contents.resize(contents.size() * 2);
  }
  contents.resize(used);
  return 0;
}

SysError PosixPlatform::queryPath(const std::u16string& path, LinkMode mode,
                                  FileInfo& info) {
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  return statPath(at(native), mode, info);
}

SysError PosixPlatform::readFileInfo(const std::u16string& path, FileInfo& info) {
  // stat needs no open: it reads the same information as an open for
  // attributes would, folders included, links followed.
  return queryPath(path, LinkMode::Follow, info);
}

SysError PosixPlatform::openForMetadataWrite(const std::u16string& path,
                                             std::unique_ptr<MetadataWriter>& out) {
  out.reset();
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return lastError();
  out = std::make_unique<PathMetadataWriter>(std::move(native));
  return 0;
}

SysError PosixPlatform::setAttributes(const std::u16string& path,
                                      uint32_t attributes) {
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  return changeModeWithoutFollowing(at(native), static_cast<mode_t>(attributes & 07777));
}

// Owner read and write: removing a file needs no permission on the file
// itself, so this only matters where a caller clears a file before removing
// it. Should that path be a link planted by someone else on a kernel that
// follows it (see changeModeWithoutFollowing), the change can then only
// narrow access to the link's target, never widen it.
uint32_t PosixPlatform::normalAttributes() const { return 0600; }

uint32_t PosixPlatform::attributesToPreserve(const FileInfo& source) const {
  return source.attributes & 07777;
}

SysError PosixPlatform::openForRead(const std::u16string& path, ReadPurpose,
                                    std::unique_ptr<ReadableFile>& out) {
  out.reset();
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  // No posix_fadvise(SEQUENTIAL): Linux read-ahead already grows on
  // sequential reads, and the call would cost a system call per file.
  int raw = -1;
  if (SysError err = openRetrying(at(native), kReadFlags, 0, raw)) return err;
  out = std::make_unique<PosixReadableFile>(UniqueFd(raw));
  return 0;
}

SysError PosixPlatform::createStagingFile(const std::u16string& path,
                                          std::unique_ptr<WritableFile>& out) {
  out.reset();
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  // O_EXCL refuses anything at the path, a link (even a dangling one)
  // included; O_NOFOLLOW says so twice. The file gets the mode every new
  // file gets (0666 less the umask); the caller applies the source's bits
  // when it preserves them.
  int raw = -1;
  if (SysError err = openRetrying(at(native),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                  0666, raw)) {
    return err;
  }
  out = std::make_unique<PosixWritableFile>(UniqueFd(raw));
  return 0;
}

SysError PosixPlatform::removeFile(const std::u16string& path) {
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  const AtPath target = at(native);
  return unlinkat(target.folder, target.name, 0) == 0 ? 0 : lastError();
}

SysError PosixPlatform::renameFile(const std::u16string& from,
                                   const std::u16string& to,
                                   ExistingTarget existing) {
  std::string nativeFrom;
  std::string nativeTo;
  if (SysError err = toNativePath(from, nativeFrom)) return err;
  if (SysError err = toNativePath(to, nativeTo)) return err;
  const AtPath source = at(nativeFrom);
  const AtPath target = at(nativeTo);
  if (existing == ExistingTarget::Fail) return renameWithoutReplace(source, target);
  return renameat(source.folder, source.name, target.folder, target.name) == 0 ? 0
                                                                               : lastError();
}

SysError PosixPlatform::createDirectory(const std::u16string& path) {
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  return mkdir(native.c_str(), 0777) == 0 ? 0 : lastError();
}

SysError PosixPlatform::listDirectory(
    const std::u16string& path,
    const std::function<bool(const DirectoryEntry&)>& visit) {
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  int raw = -1;
  if (SysError err = openRetrying(at(native),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0, raw)) {
    return err;
  }
  UniqueFd fd(raw);
  DIR* stream = fdopendir(fd.get());
  if (stream == nullptr) return lastError();
  fd.release();  // the stream owns the descriptor now
  UniqueDir dir(stream);

  DirectoryEntry entry;
  for (;;) {
    errno = 0;
    const dirent* d = readdir(dir.get());
    if (d == nullptr) {
      if (errno != 0) return lastError();
      break;
    }
    const char* name = d->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
      continue;
    }
    entry.name = fromNativeName(name);
    entry.kind = kindOf(d->d_type);
    if (!visit(entry)) break;
  }
  return dir.close();
}

SysError PosixPlatform::finalPath(const std::u16string& path, std::u16string& out) {
  out.clear();
  std::string native;
  if (SysError err = toNativePath(path, native)) return err;
  char* resolved = realpath(native.c_str(), nullptr);
  if (resolved == nullptr) return lastError();
  out = fromNativeName(resolved);
  std::free(resolved);
  return 0;
}

}  // namespace qv::posix
