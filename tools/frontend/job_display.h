// Shows a running job from the worker's event lines: the live status line on
// a terminal, a plain line every few seconds elsewhere, the events verbatim
// with --json, and the closing summary.
#ifndef QV_TOOLS_FRONTEND_JOB_DISPLAY_H_
#define QV_TOOLS_FRONTEND_JOB_DISPLAY_H_

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "frontend/copy_options.h"
#include "frontend/status_line.h"

namespace qv::tools {

class JobDisplay {
 public:
  // `request` is the job's, for what the summary says of it. `width` gives
  // the terminal's current width when standard output is a terminal; it is
  // null otherwise.
  JobDisplay(OutputMode mode, const RequestFields& request, std::function<int()> width,
             std::ostream& out, std::ostream& err);

  // One line of the worker's standard output, without its line ending.
  void onLine(const std::string& line);

  // Clears the live line and prints how the job ended. Returns the exit code
  // to end with: the worker's own, or 1 when it ended without an outcome.
  int finish(int workerExitCode);

  // Whether a write to standard output has failed (its reader has gone).
  bool outputFailed() const { return out_.fail(); }

 private:
  using Clock = std::chrono::steady_clock;
  void onProgress(const nlohmann::json& event);
  void draw();
  double seconds() const;

  OutputMode mode_;
  bool verifyOnly_;
  VerifyTotals verification_;
  std::function<int()> width_;
  std::ostream& out_;
  std::ostream& err_;
  Clock::time_point start_ = Clock::now();
  std::optional<Clock::time_point> lastDraw_;
  bool lineShown_ = false;
  ProgressState state_;
  RateMeter rate_;
  std::optional<JobTotals> complete_;
  std::optional<std::string> fatal_;
};

}  // namespace qv::tools

#endif  // QV_TOOLS_FRONTEND_JOB_DISPLAY_H_
