// Text, process and machine; and the one PosixPlatform of the process.
#include "platform/posix/posix_platform.h"

#include <sched.h>
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
void PosixPlatform::useUtf8Output() {}

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
