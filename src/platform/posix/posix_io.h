// The descriptor I/O loops of the POSIX platform. They retry EINTR and loop
// on short transfers, so no caller has to.
#ifndef QV_PLATFORM_POSIX_POSIX_IO_H_
#define QV_PLATFORM_POSIX_POSIX_IO_H_

#include <cerrno>
#include <cstddef>

#include "platform/platform.h"
#include "platform/posix/posix_folder_reuse.h"

namespace qv::posix {

inline SysError lastError() { return static_cast<SysError>(errno); }

// Reads until `size` bytes arrived or the end of the file; `bytesRead` holds
// what arrived, also after a failure.
SysError readFull(int fd, void* buffer, size_t size, size_t& bytesRead);

// Writes all `size` bytes or fails; `written` holds what reached the file.
SysError writeAll(int fd, const void* data, size_t size, size_t& written);

// openat() retried on EINTR (a FIFO or a slow device may be interrupted);
// `fd` is -1 after a failure.
SysError openRetrying(AtPath path, int flags, unsigned mode, int& fd);

}  // namespace qv::posix

#endif  // QV_PLATFORM_POSIX_POSIX_IO_H_
