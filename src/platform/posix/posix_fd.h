// Owners of the descriptors the POSIX platform holds. Each closes what it
// holds when destroyed or assigned over, so no path out of a function can
// leak a descriptor.
#ifndef QV_PLATFORM_POSIX_POSIX_FD_H_
#define QV_PLATFORM_POSIX_POSIX_FD_H_

#include <dirent.h>

#include "platform/platform.h"

namespace qv::posix {

// Closes `fd` and reports the close: 0 or errno. A close interrupted by a
// signal is not retried: on Linux the descriptor is gone by then, and a retry
// could close one that another thread has just been given.
SysError closeDescriptor(int fd);

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }

  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Gives up ownership without closing.
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

  // Closes what is held (ignoring a failed close) and takes `fd`.
  void reset(int fd = -1) {
    if (fd_ >= 0) closeDescriptor(fd_);
    fd_ = fd;
  }

  // Closes what is held and reports the close: 0, or errno.
  SysError close() { return fd_ >= 0 ? closeDescriptor(release()) : 0; }

 private:
  int fd_ = -1;
};

// An open directory stream; closing it closes the descriptor it was made from.
class UniqueDir {
 public:
  UniqueDir() = default;
  explicit UniqueDir(DIR* dir) : dir_(dir) {}
  ~UniqueDir() { reset(); }

  UniqueDir(UniqueDir&& other) noexcept : dir_(other.release()) {}
  UniqueDir& operator=(UniqueDir&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueDir(const UniqueDir&) = delete;
  UniqueDir& operator=(const UniqueDir&) = delete;

  DIR* get() const { return dir_; }

  DIR* release() {
    DIR* dir = dir_;
    dir_ = nullptr;
    return dir;
  }

  void reset(DIR* dir = nullptr) {
    if (dir_ != nullptr) closedir(dir_);
    dir_ = dir;
  }

  SysError close();

 private:
  DIR* dir_ = nullptr;
};

}  // namespace qv::posix

#endif  // QV_PLATFORM_POSIX_POSIX_FD_H_
