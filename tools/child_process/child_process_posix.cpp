#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "child_process/child_process.h"

extern char** environ;

namespace qv::tools {

struct ChildProcess::Handles {
  ~Handles() {
    for (int fd : {input, output, error}) {
      if (fd >= 0) close(fd);
    }
  }
  pid_t pid = -1;
  int input = -1;
  int output = -1;
  int error = -1;
  bool exited = false;
  int code = 1;
};

namespace {

size_t readSome(int fd, char* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;
  }
}

}  // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& args, const ChildOptions& options)
    : h_(std::make_unique<Handles>()) {
  // A child that has gone away must show as a failed write, not end us.
  signal(SIGPIPE, SIG_IGN);
  // Close-on-exec: a sibling started meanwhile must not hold these ends
  // open, or this child's output would never end.
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
      (options.pipeError && pipe2(err, O_CLOEXEC) != 0)) {
    const int code = errno;
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
      if (fd >= 0) close(fd);
    }
    throw std::runtime_error(std::string("Unable to create pipes: ") + std::strerror(code));
  }
  if (err[0] >= 0 && options.errorReaderGone) {
    close(err[0]);
    err[0] = -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (options.pipeError) posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // An ignored signal stays ignored across exec: the child gets SIGPIPE back
  // at its default, as any other host would start it.
  short flags = POSIX_SPAWN_SETSIGDEF;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  if (options.ownProcessGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  posix_spawnattr_setflags(&attributes, flags);
  const std::string exe = program.string();
  std::vector<char*> argv{const_cast<char*>(exe.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = posix_spawn(&h_->pid, exe.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  h_->input = in[1];
  h_->output = out[0];
  h_->error = err[0];
  if (rc != 0) throw std::runtime_error("Unable to start " + exe + ": " + std::strerror(rc));
}

ChildProcess::~ChildProcess() {
  if (!h_->exited) {
    kill();
    wait();
  }
}

size_t ChildProcess::readOutput(char* buffer, size_t size) {
  return readSome(h_->output, buffer, size);
}

size_t ChildProcess::readError(char* buffer, size_t size) {
  return h_->error < 0 ? 0 : readSome(h_->error, buffer, size);
}

bool ChildProcess::writeInput(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(h_->input, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void ChildProcess::closeInput() {
  if (h_->input >= 0) close(h_->input);
  h_->input = -1;
}

void ChildProcess::closeOutput() {
  if (h_->output >= 0) close(h_->output);
  h_->output = -1;
}

void ChildProcess::kill() {
  if (!h_->exited) ::kill(h_->pid, SIGKILL);
}

std::optional<int> ChildProcess::wait(std::optional<std::chrono::milliseconds> timeout) {
  const auto deadline =
      std::chrono::steady_clock::now() + timeout.value_or(std::chrono::milliseconds(0));
  while (!h_->exited) {
    int status = 0;
    const pid_t r = waitpid(h_->pid, &status, timeout ? WNOHANG : 0);
    if (r == h_->pid) {
      h_->exited = true;
      h_->code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (r < 0 && errno != EINTR) {
      h_->exited = true;  // Reaped elsewhere: nothing left to wait for.
    } else if (timeout) {
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      // waitpid has no timeout of its own.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return h_->code;
}

int ChildProcess::pid() const { return static_cast<int>(h_->pid); }

}  // namespace qv::tools
