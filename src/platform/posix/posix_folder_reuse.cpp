#include "platform/posix/posix_folder_reuse.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace qv::posix {
namespace {

// A copy thread works in two folders at once, a source's and a
// destination's. Two also bounds the descriptors held: a job may run 128
// threads (plus readers) under the usual limit of 1024 open files.
constexpr int kSlots = 2;

struct Slot {
  std::string folder;
  int fd = -1;
  uint64_t lastUse = 0;
};

struct FolderCache {
  int depth = 0;
  uint64_t clock = 0;
  Slot slots[kSlots];

  ~FolderCache() { closeAll(); }

  void closeAll() {
    for (Slot& slot : slots) {
      if (slot.fd >= 0) ::close(slot.fd);
      slot = Slot{};
    }
  }

  // The open handle of `folder`, or -1 when it cannot be opened. Evicts the
  // least recently used slot, so the handles of the last two calls stay.
  int handleOf(std::string_view folder) {
    Slot* victim = &slots[0];
    for (Slot& slot : slots) {
      if (slot.fd >= 0 && slot.folder == folder) {
        slot.lastUse = ++clock;
        return slot.fd;
      }
      if (slot.lastUse < victim->lastUse) victim = &slot;
    }
    std::string path(folder);
    const int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (victim->fd >= 0) ::close(victim->fd);
    victim->folder = std::move(path);
    victim->fd = fd;
    victim->lastUse = ++clock;
    return fd;
  }
};

thread_local FolderCache cache;

}  // namespace

void beginFolderReuseOnThisThread() { ++cache.depth; }

void endFolderReuseOnThisThread() {
  if (cache.depth > 0 && --cache.depth == 0) cache.closeAll();
}

AtPath at(const std::string& native) {
  const AtPath whole{AT_FDCWD, native.c_str()};
  // A whole path the system would refuse as too long must still be refused.
  if (cache.depth == 0 || native.size() >= PATH_MAX) return whole;
  const size_t slash = native.rfind('/');
  if (slash == std::string::npos) return whole;
  const char* name = native.c_str() + slash + 1;
  if (*name == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
    return whole;
  }
  const std::string_view folder =
      slash == 0 ? std::string_view("/") : std::string_view(native).substr(0, slash);
  const int fd = cache.handleOf(folder);
  return fd < 0 ? whole : AtPath{fd, name};
}

}  // namespace qv::posix
