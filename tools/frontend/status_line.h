// What a person sees of a job: the live status line, drawn from the worker's
// progress events, and the closing summary. Pure formatting, no I/O.
#ifndef QV_TOOLS_FRONTEND_STATUS_LINE_H_
#define QV_TOOLS_FRONTEND_STATUS_LINE_H_

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv::tools {

// The latest progress event, as far as the line needs it.
struct ProgressState {
  std::string phase;  // "scan", "copy" or "verify"
  bool paused = false;
  std::string currentFile;
  uint64_t totalBytes = 0;
  uint64_t processedBytes = 0;
  uint64_t totalFiles = 0;
  uint64_t completedFiles = 0;
};

// The current rate: bytes over the last few seconds rather than the worker's
// average since the phase began, so it falls when the copy stalls or pauses.
class RateMeter {
 public:
  void add(double seconds, uint64_t bytes);
  void reset() { samples_.clear(); }
  double bytesPerSecond() const;

 private:
  std::deque<std::pair<double, uint64_t>> samples_;
};

// "1.5 KiB", "62.4 MiB"; below 1 KiB in bytes.
std::string humanBytes(uint64_t bytes);
// "0:07", "12:34", "1:02:03".
std::string humanDuration(double seconds);

// Columns `text` takes on a terminal: two for each East Asian wide
// character, one for any other UTF-8 character.
size_t displayColumns(std::string_view text);
// `text` cut to at most `columns` columns by replacing part of it with
// "...", keeping mostly its end, where the file name is.
std::string elideMiddle(std::string_view text, size_t columns);

// One status line. With `width` 0 it is not limited; otherwise it takes at
// most width - 1 columns, so that it never wraps, even on terminals that
// wrap on writing the last column.
std::string formatStatusLine(const ProgressState& state, double bytesPerSecond, size_t width);

// What the job's verification did, from its last progress event.
struct VerifyTotals {
  std::string method;  // as --verify names it; empty when nothing is verified
  uint32_t reCopies = 0;  // the most times a copy that fails its check is redone
  uint64_t checkedFiles = 0;
  uint64_t failedFiles = 0;
};

// The numbers of the worker's "complete" event, and of its verification.
struct JobTotals {
  uint64_t totalBytes = 0;
  uint64_t copiedBytes = 0;
  uint64_t totalFiles = 0;
  uint64_t completedFiles = 0;
  uint64_t skippedFiles = 0;
  uint64_t failedFiles = 0;
  bool cancelled = false;
  std::vector<std::string> errors;
  VerifyTotals verification;
};

// The closing summary, several lines each ending in a line feed. Only the
// first errors are listed: a job can fail thousands of files.
std::string formatSummary(const JobTotals& totals, bool verifyOnly, double elapsedSeconds);

}  // namespace qv::tools

#endif  // QV_TOOLS_FRONTEND_STATUS_LINE_H_
