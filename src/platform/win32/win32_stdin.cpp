#include <windows.h>

#include <mutex>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_platform.h"

namespace qv::win32 {

namespace {

// Reads standard input's lines with ReadFile on the reading thread. A
// pending read is ended by CancelSynchronousIo on that thread, so the
// process can end while the host keeps standard input open.
class Win32LineReader final : public LineReader {
 public:
  explicit Win32LineReader(HANDLE input) : input_(input) {}

  bool readLine(std::string& line) override {
    for (;;) {
      size_t end = pending_.find('\n', scanned_);
      if (end != std::string::npos) {
        // Text mode: one carriage return before the line feed goes.
        size_t length = end > 0 && pending_[end - 1] == '\r' ? end - 1 : end;
        line.assign(pending_, 0, length);
        pending_.erase(0, end + 1);
        scanned_ = 0;
        return notCancelled();
      }
      scanned_ = pending_.size();
      if (endOfInput_) {
        if (pending_.empty()) return false;
        line.swap(pending_);
        pending_.clear();
        scanned_ = 0;
        return notCancelled();
      }
      if (!readMore()) return false;
    }
  }

  void cancel() override {
    std::unique_lock<std::mutex> lock(mutex_);
    cancelled_ = true;
    // The reader may have passed its test of the flag without having entered
    // ReadFile yet: then there is nothing to cancel, and the cancel is tried
    // again until the read is under way or over. The tries are bounded for
    // an input whose reads the system cannot cancel (some consoles): that
    // reader ends at its next line, and the process need not wait for it.
    const ULONGLONG deadline = GetTickCount64() + 100;
    while (reading_ && GetTickCount64() < deadline) {
      if (CancelSynchronousIo(readingThread_.get())) break;
      if (GetLastError() != ERROR_NOT_FOUND) break;
      lock.unlock();
      Sleep(1);
      lock.lock();
    }
  }

 private:
  bool notCancelled() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !cancelled_;
  }

  // Appends what one ReadFile brings. False on a failure, a cancel, or a
  // missing standard input; the end of input sets endOfInput_ and succeeds.
  bool readMore() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (cancelled_) return false;
      if (!readingThread_) {
        // GetCurrentThread is a pseudo handle that means "the caller"
        // wherever it is used; cancel() needs a real one to this thread.
        HANDLE thread = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(),
                             GetCurrentProcess(), &thread, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
          return false;
        }
        readingThread_.reset(thread);
      }
      reading_ = true;
    }
    char buffer[4096];
    DWORD got = 0;
    BOOL ok = ReadFile(input_, buffer, sizeof(buffer), &got, nullptr);
    DWORD error = ok ? 0 : GetLastError();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reading_ = false;
      if (cancelled_) return false;
    }
    if (!ok) {
      // The host closing its end of the pipe is the end of input.
      if (error != ERROR_BROKEN_PIPE) return false;
      endOfInput_ = true;
      return true;
    }
    if (got == 0) endOfInput_ = true;
    pending_.append(buffer, got);
    return true;
  }

  HANDLE input_;  // not owned: the process's standard input

  // Used by the reading thread only.
  std::string pending_;  // bytes read but not yet returned as lines
  size_t scanned_ = 0;   // pending_ holds no line feed before this
  bool endOfInput_ = false;

  // Guarded by mutex_.
  std::mutex mutex_;
  bool cancelled_ = false;
  bool reading_ = false;          // the reader is in or about to enter ReadFile
  UniqueHandle readingThread_;    // set at the first read
};

}  // namespace

std::unique_ptr<LineReader> Win32Platform::openStandardInput() {
  return std::make_unique<Win32LineReader>(GetStdHandle(STD_INPUT_HANDLE));
}

}  // namespace qv::win32
