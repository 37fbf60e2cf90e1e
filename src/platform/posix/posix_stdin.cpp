#include "platform/posix/posix_stdin.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/posix_io.h"
#include "platform/posix/posix_platform.h"

namespace qv::posix {

FdLineReader::FdLineReader(int fd)
    : fd_(fd), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void FdLineReader::cancel() {
  cancelled_.store(true);
  if (wake_.valid()) {
    const uint64_t one = 1;
    // EAGAIN only when the counter is about to overflow, i.e. it is set.
    while (::write(wake_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
}

bool FdLineReader::readLine(std::string& line) {
  for (;;) {
    if (cancelled_.load() || failed_) return false;
    const size_t lf = pending_.find('\n', scanned_);
    if (lf != std::string::npos) {
      size_t end = lf;
      if (end > 0 && pending_[end - 1] == '\r') --end;
      line.assign(pending_, 0, end);
      pending_.erase(0, lf + 1);
      scanned_ = 0;
      return true;
    }
    scanned_ = pending_.size();
    if (ended_) {
      if (pending_.empty()) return false;
      line.swap(pending_);
      pending_.clear();
      scanned_ = 0;
      return true;
    }
    if (fill() == Fill::Stop) return false;
  }
}

FdLineReader::Fill FdLineReader::fill() {
  pollfd fds[2];
  fds[0].fd = fd_;
  fds[0].events = POLLIN;
  fds[1].fd = wake_.get();  // poll ignores a negative descriptor
  fds[1].events = POLLIN;
  const int timeout = wake_.valid() ? -1 : 50;
  for (;;) {
    if (cancelled_.load()) return Fill::Stop;
    fds[0].revents = 0;
    fds[1].revents = 0;
    const int ready = poll(fds, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      return Fill::Stop;
    }
    if (ready == 0 || fds[1].revents != 0) continue;  // the top of the loop decides
    if ((fds[0].revents & POLLNVAL) != 0) {
      failed_ = true;
      return Fill::Stop;
    }
    if (fds[0].revents == 0) continue;

    // POLLIN, or POLLHUP/POLLERR: read() tells which it is.
    char buffer[4096];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      failed_ = true;
      return Fill::Stop;
    }
    if (n == 0) {
      ended_ = true;
      return Fill::End;
    }
    pending_.append(buffer, static_cast<size_t>(n));
    return Fill::Data;
  }
}

std::unique_ptr<LineReader> PosixPlatform::openStandardInput() {
  return std::make_unique<FdLineReader>(STDIN_FILENO);
}

}  // namespace qv::posix
