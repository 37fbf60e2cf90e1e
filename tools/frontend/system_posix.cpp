#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "frontend/system.h"

namespace qv::tools {
namespace {

std::atomic<int> interrupts{0};

void onInterrupt(int) { interrupts.fetch_add(1); }

}  // namespace

std::vector<std::string> commandLineUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void prepareConsoleOutput() { signal(SIGPIPE, SIG_IGN); }

std::filesystem::path executableDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::string workerFileName() { return "Quorvel.NativeWorker"; }

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }
bool standardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

int terminalWidth() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

std::filesystem::path writePrivateTempFile(const std::string& bytes) {
  std::string name = (std::filesystem::temp_directory_path() / "quorvel-request-XXXXXX").string();
  // mkstemp creates the file with mode 0600 and never reuses an existing one.
  const int fd = mkstemp(name.data());
  if (fd < 0) throw std::runtime_error("Unable to create " + name + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      close(fd);
      unlink(name.c_str());
      throw std::runtime_error("Unable to write " + name + ": " + std::strerror(code));
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return name;
}

void catchInterrupts() {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

int interruptCount() { return interrupts.load(); }

struct KeyReader::State {
  termios saved{};
  bool changed = false;
};

KeyReader::KeyReader() : state_(new State) {
  if (tcgetattr(STDIN_FILENO, &state_->saved) != 0) return;
  termios raw = state_->saved;
  // Non-canonical and silent, but ISIG stays on so Ctrl-C is still a signal.
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  state_->changed = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

KeyReader::~KeyReader() {
  if (state_->changed) tcsetattr(STDIN_FILENO, TCSANOW, &state_->saved);
  delete state_;
}

char KeyReader::poll(std::chrono::milliseconds timeout) {
  pollfd in{STDIN_FILENO, POLLIN, 0};
  if (::poll(&in, 1, static_cast<int>(timeout.count())) <= 0) return 0;
  char c = 0;
  if (read(STDIN_FILENO, &c, 1) != 1) {
    // End of input: wait as asked rather than spinning on it.
    ::poll(nullptr, 0, static_cast<int>(timeout.count()));
    return 0;
  }
  return c;
}

}  // namespace qv::tools
