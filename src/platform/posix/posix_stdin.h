// The cancellable line reader behind Platform::openStandardInput().
#ifndef QV_PLATFORM_POSIX_POSIX_STDIN_H_
#define QV_PLATFORM_POSIX_POSIX_STDIN_H_

#include <atomic>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_fd.h"

namespace qv::posix {

// Reads lines from a descriptor it does not own. A pending read waits in
// poll() on the descriptor and on an eventfd that cancel() signals, so a
// cancel ends it at once even while the other end of the input stays open
// and silent.
class FdLineReader final : public LineReader {
 public:
  explicit FdLineReader(int fd);

  bool readLine(std::string& line) override;
  void cancel() override;

 private:
  enum class Fill { Data, End, Stop };
  // Waits for input and appends it to pending_.
  Fill fill();

  const int fd_;
  // Signalled by cancel(); invalid when no eventfd could be made, in which
  // case the wait wakes up every 50 ms to look at cancelled_.
  UniqueFd wake_;
  std::atomic<bool> cancelled_{false};

  // Used by the reading thread only.
  std::string pending_;
  size_t scanned_ = 0;  // pending_ holds no line feed before this
  bool ended_ = false;
  bool failed_ = false;
};

}  // namespace qv::posix

#endif  // QV_PLATFORM_POSIX_POSIX_STDIN_H_
