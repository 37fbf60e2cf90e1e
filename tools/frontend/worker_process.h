// The worker as a child process: the request path on its command line, its
// standard input and output on pipes, its standard error shared with ours.
#ifndef QV_TOOLS_FRONTEND_WORKER_PROCESS_H_
#define QV_TOOLS_FRONTEND_WORKER_PROCESS_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "child_process/child_process.h"

namespace qv::tools {

class WorkerProcess {
 public:
  WorkerProcess(const std::filesystem::path& program, const std::vector<std::string>& args);

  // Writes `line` and a line feed to the worker's standard input; false when
  // the worker no longer reads it.
  bool sendLine(std::string_view line);
  // Ends the worker at once, without the chance to clean up.
  void kill() { child_.kill(); }
  // Waits for the exit; the exit code, or 128 + the signal that ended it.
  int wait() { return child_.wait().value_or(1); }

  // The next line of its standard output, without its line ending (a
  // carriage return before the line feed is dropped too); false at the end.
  bool readLine(std::string& line);

 private:
  ChildProcess child_;
  std::string pending_;
  bool ended_ = false;
};

// Starts `program` with `args` (UTF-8). The worker is put in a process
// group of its own, so a Ctrl-C at the terminal reaches only the front end,
// which turns it into a "cancel". Throws std::runtime_error.
std::unique_ptr<WorkerProcess> startWorker(const std::filesystem::path& program,
                                           const std::vector<std::string>& args);

}  // namespace qv::tools

#endif  // QV_TOOLS_FRONTEND_WORKER_PROCESS_H_
