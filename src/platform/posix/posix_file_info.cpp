#include "platform/posix/posix_file_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <cerrno>
#include <limits>

#include "platform/posix/posix_io.h"

namespace qv::posix {
namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kTicksPerSecond = 10000000;

// Everything stat and statx have in common, so both fill FileInfo alike.
struct RawInfo {
  uint32_t mode = 0;
  uint64_t size = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t links = 0;
  timespec access{};
  timespec write{};
  timespec creation{};
};

FileTime fromTimespec(const timespec& t) {
  return toFileTime(static_cast<int64_t>(t.tv_sec),
                    static_cast<uint32_t>(t.tv_nsec));
}

void fill(const RawInfo& raw, FileInfo& out) {
  out = FileInfo{};
  out.attributes = raw.mode & 07777;
  out.isDirectory = S_ISDIR(raw.mode);
  out.isLink = S_ISLNK(raw.mode);
  out.isSpecial = !S_ISREG(raw.mode) && !S_ISDIR(raw.mode) && !S_ISLNK(raw.mode);
  // Only a regular file's size means bytes to copy; a folder's or a link's
  // size is 0, as the Windows file API gives it.
  out.size = S_ISREG(raw.mode) ? raw.size : 0;
  out.volumeId = raw.device;
  out.fileIndex = raw.inode;
  out.linkCount = raw.links > std::numeric_limits<uint32_t>::max()
                      ? std::numeric_limits<uint32_t>::max()
                      : static_cast<uint32_t>(raw.links);
  out.creationTime = fromTimespec(raw.creation);
  out.lastAccessTime = fromTimespec(raw.access);
  out.lastWriteTime = fromTimespec(raw.write);
}

void fromStat(const struct stat& st, RawInfo& raw) {
  raw.mode = st.st_mode;
  raw.size = st.st_size < 0 ? 0 : static_cast<uint64_t>(st.st_size);
  raw.device = st.st_dev;
  raw.inode = st.st_ino;
  raw.links = st.st_nlink;
  raw.access = st.st_atim;
  raw.write = st.st_mtim;
  raw.creation = st.st_ctim;
}

#ifdef STATX_BTIME
// Set once statx turned out to be missing (an old kernel) or refused (a
// sandbox that filters unknown calls with EPERM); stat is used from then on.
std::atomic<bool> statxUnusable{false};

timespec fromStatxTime(const struct statx_timestamp& t) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(t.tv_sec);
  ts.tv_nsec = static_cast<long>(t.tv_nsec);
  return ts;
}

// 0 or an error; ENOSYS when statx cannot be used and stat must answer.
SysError statxInto(int dirfd, const char* path, int flags, RawInfo& raw) {
  if (statxUnusable.load(std::memory_order_relaxed)) return ENOSYS;
  struct statx sx;
  if (statx(dirfd, path, flags | AT_STATX_SYNC_AS_STAT,
            STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    if (errno == ENOSYS || errno == EPERM) {
      statxUnusable.store(true, std::memory_order_relaxed);
      return ENOSYS;
    }
    return lastError();
  }
  raw.mode = sx.stx_mode;
  raw.size = sx.stx_size;
  raw.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  raw.inode = sx.stx_ino;
  raw.links = sx.stx_nlink;
  raw.access = fromStatxTime(sx.stx_atime);
  raw.write = fromStatxTime(sx.stx_mtime);
  raw.creation = fromStatxTime((sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime
                                                                 : sx.stx_ctime);
  return 0;
}
#else
SysError statxInto(int, const char*, int, RawInfo&) { return ENOSYS; }
#endif

}  // namespace

FileTime toFileTime(int64_t seconds, uint32_t nanoseconds) {
  FileTime t;
  if (seconds < -kSecondsFrom1601To1970) return t;
  t.ticks = static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) *
                kTicksPerSecond +
            nanoseconds / 100;
  t.extraNanos = nanoseconds % 100;
  return t;
}

timespec toTimespec(const FileTime& time) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(time.ticks / kTicksPerSecond) -
                                  kSecondsFrom1601To1970);
  ts.tv_nsec = static_cast<long>((time.ticks % kTicksPerSecond) * 100 +
                                 time.extraNanos % 100);
  return ts;
}

void timesToSet(const FileInfo& source, timespec times[2]) {
  const FileTime* from[2] = {&source.lastAccessTime, &source.lastWriteTime};
  for (int i = 0; i < 2; ++i) {
    if (from[i]->ticks == 0 && from[i]->extraNanos == 0) {
      times[i].tv_sec = 0;
      times[i].tv_nsec = UTIME_OMIT;
    } else {
      times[i] = toTimespec(*from[i]);
    }
  }
}

SysError statPath(AtPath path, LinkMode mode, FileInfo& out) {
  const int flags = mode == LinkMode::NoFollow ? AT_SYMLINK_NOFOLLOW : 0;
  RawInfo raw;
  SysError err = statxInto(path.folder, path.name, flags, raw);
  if (err == ENOSYS) {
    struct stat st;
    if (fstatat(path.folder, path.name, &st, flags) != 0) return lastError();
    fromStat(st, raw);
    err = 0;
  }
  if (err == 0) fill(raw, out);
  return err;
}

SysError statDescriptor(int fd, FileInfo& out) {
  RawInfo raw;
  SysError err = statxInto(fd, "", AT_EMPTY_PATH, raw);
  if (err == ENOSYS) {
    struct stat st;
    if (fstat(fd, &st) != 0) return lastError();
    fromStat(st, raw);
    err = 0;
  }
  if (err == 0) fill(raw, out);
  return err;
}

}  // namespace qv::posix
