#include "frontend/worker_process.h"

namespace qv::tools {

WorkerProcess::WorkerProcess(const std::filesystem::path& program,
                             const std::vector<std::string>& args)
    // On Windows a killed worker exits with 1, the code the front end reports for it.
    : child_(program, args, {.pipeError = false, .ownProcessGroup = true, .killedExitCode = 1}) {}

bool WorkerProcess::sendLine(std::string_view line) {
  std::string data(line);
  data += '\n';
  return child_.writeInput(data);
}

bool WorkerProcess::readLine(std::string& line) {
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      line.assign(pending_, 0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    if (ended_) {
      // A last line without a line feed still counts.
      if (pending_.empty()) return false;
      line.swap(pending_);
      pending_.clear();
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    char buffer[65536];
    const size_t n = child_.readOutput(buffer, sizeof buffer);
    if (n == 0) ended_ = true;
    pending_.append(buffer, n);
  }
}

std::unique_ptr<WorkerProcess> startWorker(const std::filesystem::path& program,
                                           const std::vector<std::string>& args) {
  return std::make_unique<WorkerProcess>(program, args);
}

}  // namespace qv::tools
