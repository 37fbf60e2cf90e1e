// File information and file times on POSIX.
//
// A FileTime counts 100 ns ticks since 1601-01-01 UTC and keeps the
// nanoseconds below one tick in `extraNanos`, so the conversion is exact
// both ways for every time from 1601 on. Earlier times (which no FileTime
// can hold) become 0.
//
// The creation time is the birth time when the system reports one (statx)
// and the inode change time otherwise. It is reported only: Linux has no
// call that sets a birth time, so setting times leaves it alone.
#ifndef QV_PLATFORM_POSIX_POSIX_FILE_INFO_H_
#define QV_PLATFORM_POSIX_POSIX_FILE_INFO_H_

#include <cstdint>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/posix_folder_reuse.h"

namespace qv::posix {

FileTime toFileTime(int64_t seconds, uint32_t nanoseconds);
timespec toTimespec(const FileTime& time);

// The access and write times of `source` as futimens/utimensat take them. A
// time of 0 means "not known" (as a zero FILETIME means "leave it" on
// Windows) and becomes UTIME_OMIT.
void timesToSet(const FileInfo& source, timespec times[2]);

// The information of a path (LinkMode::NoFollow reports a link itself).
SysError statPath(AtPath path, LinkMode mode, FileInfo& out);
// The information of an open descriptor.
SysError statDescriptor(int fd, FileInfo& out);

}  // namespace qv::posix

#endif  // QV_PLATFORM_POSIX_POSIX_FILE_INFO_H_
