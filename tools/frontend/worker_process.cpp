#include "frontend/worker_process.h"

namespace qv::tools {

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
    const size_t n = readOutput(buffer, sizeof buffer);
    if (n == 0) ended_ = true;
    pending_.append(buffer, n);
  }
}

}  // namespace qv::tools
