#include "platform/posix/posix_folder_reuse.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace qv::posix {
namespace {

// A copy thread works in two folders at once, a source's and a
// destination's, so every thread may keep two handles. A thread that moves
// between many folders (one copy thread walking files interleaved across
// folders) may keep more, drawn from a process-wide pool: the pool bounds
// the descriptors held whatever the thread count, as a job may run 128
// threads (plus readers) under the usual limit of 1024 open files.
constexpr size_t kOwnSlots = 2;
constexpr int kPooledSlots = 128;
std::atomic<int> pooledSlotsLeft{kPooledSlots};

bool takePooledSlot() {
  int left = pooledSlotsLeft.load(std::memory_order_relaxed);
  while (left > 0) {
    if (pooledSlotsLeft.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}

struct Slot {
  std::string folder;
  size_t hash = 0;
  int fd = -1;
  uint64_t lastUse = 0;
};

struct FolderCache {
  int depth = 0;
  uint64_t clock = 0;
  std::vector<Slot> slots;

  ~FolderCache() { closeAll(); }

  void closeAll() {
    for (Slot& slot : slots) {
      if (slot.fd >= 0) ::close(slot.fd);
    }
    if (slots.size() > kOwnSlots) {
      pooledSlotsLeft.fetch_add(static_cast<int>(slots.size() - kOwnSlots));
    }
    slots.clear();
  }

  // The slot a newly opened folder goes to: a new one while the thread may
  // grow, else the least recently used, so the handles of the last two calls
  // stay open.
  Slot& freeSlot() {
    if (slots.size() < kOwnSlots || takePooledSlot()) return slots.emplace_back();
    Slot* victim = &slots[0];
    for (Slot& slot : slots) {
      if (slot.lastUse < victim->lastUse) victim = &slot;
    }
    if (victim->fd >= 0) ::close(victim->fd);
    *victim = Slot{};
    return *victim;
  }

  // The open handle of `folder`, or -1 when it cannot be opened.
  int handleOf(std::string_view folder) {
    const size_t hash = std::hash<std::string_view>{}(folder);
    for (Slot& slot : slots) {
      if (slot.hash == hash && slot.fd >= 0 && slot.folder == folder) {
        slot.lastUse = ++clock;
        return slot.fd;
      }
    }
    std::string path(folder);
    const int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    Slot& slot = freeSlot();
    slot.folder = std::move(path);
    slot.hash = hash;
    slot.fd = fd;
    slot.lastUse = ++clock;
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
