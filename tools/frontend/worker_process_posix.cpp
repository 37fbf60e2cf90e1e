#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "frontend/worker_process.h"

extern char** environ;

namespace qv::tools {
namespace {

class PosixWorker : public WorkerProcess {
 public:
  PosixWorker(const std::filesystem::path& program, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) fail("pipe", errno);
    if (pipe2(out, O_CLOEXEC) != 0) fail("pipe", errno);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const std::string exe = program.string();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, exe.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (rc != 0) {
      close(input_);
      close(output_);
      fail("Unable to start " + exe, rc);
    }
  }
  ~PosixWorker() override {
    close(input_);
    close(output_);
    if (!exited_) {
      kill();
      wait();
    }
  }

  bool sendLine(std::string_view line) override {
    std::string data(line);
    data += '\n';
    std::string_view rest = data;
    while (!rest.empty()) {
      const ssize_t n = ::write(input_, rest.data(), rest.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      rest.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  void kill() override {
    if (!exited_) ::kill(pid_, SIGKILL);
  }

  int wait() override {
    while (!exited_) {
      int status = 0;
      if (waitpid(pid_, &status, 0) == pid_) {
        exited_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (errno != EINTR) {
        exited_ = true;
      }
    }
    return code_;
  }

 protected:
  size_t readOutput(char* buffer, size_t size) override {
    for (;;) {
      const ssize_t n = ::read(output_, buffer, size);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) return 0;
    }
  }

 private:
  [[noreturn]] static void fail(const std::string& what, int code) {
    throw std::runtime_error(what + ": " + std::strerror(code));
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  bool exited_ = false;
  int code_ = 1;
};

}  // namespace

std::unique_ptr<WorkerProcess> startWorker(const std::filesystem::path& program,
                                           const std::vector<std::string>& args) {
  // A worker that has gone away must show as a failed write, not end us.
  signal(SIGPIPE, SIG_IGN);
  return std::make_unique<PosixWorker>(program, args);
}

}  // namespace qv::tools
