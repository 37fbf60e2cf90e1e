#include "platform/posix/posix_io.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/posix_fd.h"

namespace qv::posix {

SysError closeDescriptor(int fd) {
  if (::close(fd) == 0) return 0;
  // EINTR: the descriptor is released all the same on Linux; the data may
  // still have reached the file, but nothing tells, so report it.
  return lastError();
}

SysError UniqueDir::close() {
  if (dir_ == nullptr) return 0;
  return closedir(release()) == 0 ? 0 : lastError();
}

SysError readFull(int fd, void* buffer, size_t size, size_t& bytesRead) {
  bytesRead = 0;
  auto* p = static_cast<char*>(buffer);
  while (bytesRead < size) {
    ssize_t n = ::read(fd, p + bytesRead, size - bytesRead);
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    if (n == 0) break;
    bytesRead += static_cast<size_t>(n);
  }
  return 0;
}

SysError writeAll(int fd, const void* data, size_t size, size_t& written) {
  written = 0;
  const auto* p = static_cast<const char*>(data);
  while (written < size) {
    ssize_t n = ::write(fd, p + written, size - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    // A regular file that takes nothing without an error is out of room.
    if (n == 0) return ENOSPC;
    written += static_cast<size_t>(n);
  }
  return 0;
}

SysError openRetrying(AtPath path, int flags, unsigned mode, int& fd) {
  do {
    fd = ::openat(path.folder, path.name, flags, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? lastError() : 0;
}

}  // namespace qv::posix
