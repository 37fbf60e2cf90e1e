// Text, process and machine; and the one PosixPlatform of the process.
#include "platform/posix/posix_platform.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_folder_reuse.h"

namespace qv::posix {

PathStyle PosixPlatform::pathStyle() const { return PathStyle::Posix; }

std::u16string PosixPlatform::systemErrorMessage(SysError code) {
  return errorMessage(code);
}

std::string PosixPlatform::errorNumberLabel() const { return "System error "; }

uint32_t PosixPlatform::processId() { return static_cast<uint32_t>(getpid()); }

void PosixPlatform::beginFolderReuse() { beginFolderReuseOnThisThread(); }
void PosixPlatform::endFolderReuse() { endFolderReuseOnThisThread(); }

uint32_t PosixPlatform::logicalProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<uint32_t>(count);
  }
  // More processors than a cpu_set_t holds (EINVAL), or no answer at all.
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<uint32_t>(online) : 1;
}

// Linux output carries whatever bytes are written; there is no code page.
void PosixPlatform::prepareStandardStreams() {
  // A host that closed its end of a pipe costs a failed write (EPIPE), which
  // the event stream ignores, instead of the process: the job still removes
  // its staging files and returns its exit code.
  signal(SIGPIPE, SIG_IGN);
  // A standard stream the host left closed is opened on /dev/null. Otherwise
  // the first file the job opens would take its number, and event lines
  // would land in a staging file, or commands be read from a source file.
  // Filled from 0 upward, each open() returns the very number missing.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDWR);
  }
}

bool PosixPlatform::isNotFoundFamily(SysError code) const {
  return posix::isNotFoundFamily(code);
}

bool PosixPlatform::isAlreadyExists(SysError code) const {
  return posix::isAlreadyExists(code);
}

bool PosixPlatform::isAccessDenied(SysError code) const {
  return posix::isAccessDenied(code);
}

SysError PosixPlatform::pathNotFoundError() const { return ENOENT; }

SysError PosixPlatform::diskFullError() const { return ENOSPC; }

}  // namespace qv::posix

namespace qv {

Platform& systemPlatform() {
  static posix::PosixPlatform platform;
  return platform;
}

}  // namespace qv
