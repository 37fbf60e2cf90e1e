// The system copier: a whole-file copy that carries the source's permission
// bits and modification time.
//
// The data goes the fastest way the file system allows: a reflink (the
// target shares the source's blocks), else copy_file_range (the kernel
// copies, possibly offloaded to the server or the device), else read and
// write through a buffer. A fast way is given up only when it reports that
// it cannot serve these two files; any other failure is the copy's failure.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>

#include "platform/posix/posix_fd.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/posix_text.h"

namespace qv::posix {
namespace {

using ProgressFunction = std::function<CopyProgress(uint64_t)>;

// Between two progress reports: small enough that a pause or a cancel is
// noticed within a few milliseconds, large enough to keep the calls few.
constexpr size_t kRangeChunkWithProgress = size_t{8} << 20;
constexpr size_t kRangeChunkWithoutProgress = size_t{1} << 30;
// The buffer of a copy by read and write (between file systems, say) stays
// small enough to remain in the core's cache from the read to the write.
// With 1 MiB every byte went out to memory and back in between, and a 1 GiB
// copy between two ext4 file systems took 0.6 s instead of 0.33 s (median of
// nine), at times 1.3 s.
constexpr size_t kBufferSize = size_t{128} << 10;

// True when the copy may go on.
bool report(const ProgressFunction* progress, uint64_t total) {
  return progress == nullptr || (*progress)(total) == CopyProgress::Continue;
}

// The device of the last source whose file system said it cannot share
// blocks at all; later sources there skip the attempt. A file system answers
// that the same way for every pair of its files, so nothing is lost.
std::atomic<dev_t> deviceWithoutReflink{0};

// Clones the whole source into the empty target. `cloned` says whether it
// did; a failure that only means "no reflink here" is no error.
SysError tryClone(int source, dev_t sourceDevice, int target, bool& cloned) {
  cloned = false;
#ifdef FICLONE
  if (sourceDevice != 0 && deviceWithoutReflink.load(std::memory_order_relaxed) == sourceDevice) {
    return 0;
  }
  if (ioctl(target, FICLONE, source) == 0) {
    cloned = true;
    return 0;
  }
  switch (errno) {
    case EOPNOTSUPP:  // the file system cannot share blocks
      deviceWithoutReflink.store(sourceDevice, std::memory_order_relaxed);
      return 0;
    case EXDEV:       // the files are on different file systems
    case EINVAL:      // not for these two files (e.g. differing flags)
    case ENOTTY:      // the file system does not know the request
    case EBADF:       // with our descriptors: no reflink on the source's system
      return 0;
    default:
      return lastError();
  }
#else
  (void)source;
  (void)sourceDevice;
  (void)target;
  return 0;
#endif
}

long copyRange(int source, int target, size_t length) {
#ifdef SYS_copy_file_range
  // Called directly: some C libraries' wrappers emulate the call in user
  // space when the kernel lacks it, which would hide the fallback below.
  return syscall(SYS_copy_file_range, source, nullptr, target, nullptr, length, 0u);
#else
  (void)source;
  (void)target;
  (void)length;
  errno = ENOSYS;
  return -1;
#endif
}

// Copies with copy_file_range from the current positions to the end of the
// source, taken to be `sourceSize` bytes once that many have been copied: a
// source that grows meanwhile is caught by the caller's check of the source
// after the copy, and stopping there saves a call per file that would only
// answer 0. `unsupported` is set, with nothing copied, when the first call
// shows that the kernel cannot copy between these files.
SysError copyByRange(int source, int target, uint64_t sourceSize,
                     const ProgressFunction* progress, uint64_t& total,
                     bool& unsupported) {
  unsupported = false;
  const size_t chunk =
      progress != nullptr ? kRangeChunkWithProgress : kRangeChunkWithoutProgress;
  bool first = true;
  for (;;) {
    const long n = copyRange(source, target, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (first && (errno == ENOSYS || errno == EXDEV || errno == EOPNOTSUPP ||
                    errno == EINVAL)) {
        unsupported = true;
        return 0;
      }
      return lastError();
    }
    if (n == 0) {
      // Some pseudo file systems report a size but give nothing to
      // copy_file_range; read() still works there.
      if (first && sourceSize > 0) unsupported = true;
      return 0;
    }
    first = false;
    total += static_cast<uint64_t>(n);
    if (!report(progress, total)) return ECANCELED;
    if (total >= sourceSize) return 0;
  }
}

SysError copyByBuffer(int source, int target, const ProgressFunction* progress,
                      uint64_t& total) {
  // One buffer per thread, kept for its next copy: only threads that ever
  // fall back to this path pay for it.
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  for (;;) {
    size_t got = 0;
    if (SysError err = readFull(source, buffer.get(), kBufferSize, got)) return err;
    if (got == 0) return 0;
    size_t written = 0;
    SysError err = writeAll(target, buffer.get(), got, written);
    total += written;
    if (err != 0) return err;
    if (!report(progress, total)) return ECANCELED;
    if (got < kBufferSize) return 0;
  }
}

// The one copier behind both forms. `progress` is null for the small form.
// A failed copy leaves what it created of the target behind: the caller,
// which knows whether the target was its own staging file, removes it.
SysError copyFile(const std::u16string& sourcePath, const std::u16string& targetPath,
                  ExistingTarget existing, const ProgressFunction* progress) {
  std::string source;
  std::string target;
  if (SysError err = toNativePath(sourcePath, source)) return err;
  if (SysError err = toNativePath(targetPath, target)) return err;

  int raw = -1;
  if (SysError err = openRetrying(at(source),
                                  O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0, raw)) {
    return err;
  }
  UniqueFd in(raw);
  struct stat st;
  if (fstat(in.get(), &st) != 0) return lastError();
  if (S_ISDIR(st.st_mode)) return EISDIR;
  // A FIFO, a socket or a device has no end to copy up to.
  if (!S_ISREG(st.st_mode)) return EOPNOTSUPP;
  const uint64_t sourceSize = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;

  // Lets a cancel or a pause take effect before the target exists.
  if (!report(progress, 0)) return ECANCELED;

  // Replacing removes the old target and then creates the new one
  // exclusively, so a link at the target is replaced, never written through.
  if (existing == ExistingTarget::Replace && unlink(target.c_str()) != 0 &&
      errno != ENOENT) {
    return lastError();
  }
  if (SysError err = openRetrying(at(target),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                  0600, raw)) {
    return err;
  }
  UniqueFd out(raw);

  uint64_t total = 0;
  bool done = false;
  if (sourceSize > 0) {
    if (SysError err = tryClone(in.get(), st.st_dev, out.get(), done)) return err;
    if (done) {
      total = sourceSize;
      if (!report(progress, total)) return ECANCELED;
    } else {
      bool unsupported = false;
      if (SysError err = copyByRange(in.get(), out.get(), sourceSize, progress,
                                     total, unsupported)) {
        return err;
      }
      done = !unsupported;
    }
  }
  if (!done) {
    if (SysError err = copyByBuffer(in.get(), out.get(), progress, total)) return err;
  }

  // The modification time, then the permission bits (a read-only mode must
  // not stand in the way of anything before it). The access time is the
  // copy's own, as the Windows copier leaves it.
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = st.st_mtim;
  if (futimens(out.get(), times) != 0) return lastError();
  if (fchmod(out.get(), st.st_mode & 07777) != 0) return lastError();
  return out.close();
}

}  // namespace

SysError PosixPlatform::copySmallFile(const std::u16string& source,
                                      const std::u16string& target,
                                      ExistingTarget existing) {
  return copyFile(source, target, existing, nullptr);
}

SysError PosixPlatform::copyLargeFile(const std::u16string& source,
                                      const std::u16string& target,
                                      ExistingTarget existing,
                                      const ProgressFunction& progress) {
  return copyFile(source, target, existing, progress ? &progress : nullptr);
}

}  // namespace qv::posix
