// A child process with its standard input and output on pipes, for the
// front end that runs the worker and for the tests that run the tools.
// One implementation per system: child_process_posix.cpp and
// child_process_win32.cpp. Different streams may be read, and the input
// written, from different threads at once.
#ifndef QV_TOOLS_CHILD_PROCESS_CHILD_PROCESS_H_
#define QV_TOOLS_CHILD_PROCESS_CHILD_PROCESS_H_

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::tools {

struct ChildOptions {
  // Standard error on a pipe of its own (see readError), or shared with ours.
  bool pipeError = false;
  // With pipeError: our end of that pipe is closed before the child starts,
  // as a host that has gone leaves it, so every write there fails.
  bool errorReaderGone = false;
  // A process group of its own, so a Ctrl-C at the terminal reaches only us.
  bool ownProcessGroup = false;
  // What a killed child reports as its exit code on Windows; on POSIX it is
  // always 128 + SIGKILL.
  unsigned killedExitCode = 137;
};

class ChildProcess {
 public:
  // Starts `program` with `args` (UTF-8). Throws std::runtime_error.
  ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
               const ChildOptions& options);
  // Closes the pipes; a child still running is killed and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Read what is available, blocking; 0 at the end of the stream (always,
  // for standard error that is not piped).
  size_t readOutput(char* buffer, size_t size);
  size_t readError(char* buffer, size_t size);
  // Writes all of `data`; false when the child no longer reads its input.
  bool writeInput(std::string_view data);
  void closeInput();
  // Closes our reading end of the child's standard output, as a reader that
  // has gone away does: the child's later writes there fail. Only from the
  // thread that reads it, or when none does.
  void closeOutput();
  // Ends the child at once, without the chance to clean up.
  void kill();
  // The exit code, or 128 + the signal that ended it; nothing when the
  // timeout passed first. Without a timeout, waits as long as it takes.
  std::optional<int> wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  int pid() const;

 private:
  struct Handles;
  std::unique_ptr<Handles> h_;
};

}  // namespace qv::tools

#endif  // QV_TOOLS_CHILD_PROCESS_CHILD_PROCESS_H_
