// The worker as a child process: the request path on its command line, its
// standard input and output on pipes, its standard error shared with ours.
// One implementation per system: worker_process_posix.cpp and
// worker_process_win32.cpp.
#ifndef QV_TOOLS_FRONTEND_WORKER_PROCESS_H_
#define QV_TOOLS_FRONTEND_WORKER_PROCESS_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qv::tools {

class WorkerProcess {
 public:
  virtual ~WorkerProcess() = default;
  // Writes `line` and a line feed to the worker's standard input; false when
  // the worker no longer reads it.
  virtual bool sendLine(std::string_view line) = 0;
  // Ends the worker at once, without the chance to clean up.
  virtual void kill() = 0;
  // Waits for the exit; the exit code, or 128 + the signal that ended it.
  virtual int wait() = 0;

  // The next line of its standard output, without its line ending (a
  // carriage return before the line feed is dropped too); false at the end.
  bool readLine(std::string& line);

 protected:
  // Reads what is available, blocking; 0 at the end of the stream.
  virtual size_t readOutput(char* buffer, size_t size) = 0;

 private:
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
