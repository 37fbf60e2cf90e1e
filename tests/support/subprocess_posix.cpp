#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "support/subprocess.h"

extern char** environ;

namespace qv::test {
namespace {

class PosixChild : public ChildProcess {
 public:
  PosixChild(const std::string& program, const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
      throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) throw std::runtime_error("spawn " + program + ": " + std::strerror(rc));
    input_ = in[1];
    fds_[1] = out[0];
    fds_[2] = err[0];
  }
  ~PosixChild() override {
    closeInput();
    close(fds_[1]);
    close(fds_[2]);
    if (!exited_) {
      kill();
      waitForExit(std::chrono::seconds(10));
    }
  }
  size_t read(int stream, char* buffer, size_t size) override {
    for (;;) {
      ssize_t n = ::read(fds_[stream], buffer, size);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) return 0;
    }
  }
  bool writeInput(std::string_view data) override {
    while (!data.empty()) {
      ssize_t n = ::write(input_, data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  void closeInput() override {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }
  int waitForExit(std::chrono::milliseconds timeout) override {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exited_) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return code_;
  }
  void kill() override {
    if (!exited_) ::kill(pid_, SIGKILL);
  }
  int pid() const override { return static_cast<int>(pid_); }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int fds_[3] = {-1, -1, -1};
  bool exited_ = false;
  int code_ = -1;
};

}  // namespace

std::unique_ptr<ChildProcess> startChild(const std::string& program,
                                         const std::vector<std::string>& args) {
  // A closed pipe must not end the test binary.
  signal(SIGPIPE, SIG_IGN);
  return std::make_unique<PosixChild>(program, args);
}

std::string_view eventLineEnd() { return "\n"; }

}  // namespace qv::test
