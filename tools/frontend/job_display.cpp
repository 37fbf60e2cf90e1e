#include "frontend/job_display.h"

#include <nlohmann/json.hpp>

namespace qv::tools {
namespace {

// A live line is redrawn at most ten times a second; without a terminal a
// plain line goes out every few seconds, enough for a log.
constexpr auto kLiveInterval = std::chrono::milliseconds(100);
constexpr auto kPlainInterval = std::chrono::seconds(5);

// Erases the current terminal line: back to its start, clear to its end.
constexpr const char kClearLine[] = "\r\x1b[K";

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

JobDisplay::JobDisplay(OutputMode mode, const RequestFields& request,
                       std::function<int()> width, std::ostream& out, std::ostream& err)
    : mode_(mode), verifyOnly_(request.verifyOnly != 0), width_(std::move(width)), out_(out),
      err_(err) {
  verification_.method = verificationModeName(request.verificationMode);
  verification_.reCopies = request.retryCount;
  // Without a terminal the first plain line waits a full interval, so a
  // short job logs only its summary.
  if (!width_) lastDraw_ = start_;
}

double JobDisplay::seconds() const {
  return std::chrono::duration<double>(Clock::now() - start_).count();
}

void JobDisplay::onLine(const std::string& line) {
  if (mode_ == OutputMode::Json) {
    out_ << line << '\n' << std::flush;
  }
  nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
  if (!event.is_object()) return;
  const std::string type = event.value("type", "");
  if (type == "progress") {
    onProgress(event);
  } else if (type == "complete") {
    JobTotals t;
    t.totalBytes = event.value("totalBytes", uint64_t{0});
    t.copiedBytes = event.value("copiedBytes", uint64_t{0});
    t.totalFiles = event.value("totalFiles", uint64_t{0});
    t.completedFiles = event.value("completedFiles", uint64_t{0});
    t.skippedFiles = event.value("skippedFiles", uint64_t{0});
    t.failedFiles = event.value("failedFiles", uint64_t{0});
    t.cancelled = event.value("cancelled", false);
    t.errors = splitLines(event.value("errors", ""));
    t.verification = verification_;
    complete_ = std::move(t);
  } else if (type == "fatal") {
    fatal_ = event.value("message", "");
  }
}

void JobDisplay::onProgress(const nlohmann::json& e) {
  const std::string phase = e.value("phase", "");
  if (phase != state_.phase) rate_.reset();
  state_.phase = phase;
  state_.paused = e.value("message", "") == "Paused";
  state_.currentFile = e.value("currentFile", "");
  state_.totalBytes = e.value("totalBytes", uint64_t{0});
  state_.processedBytes = e.value("processedBytes", uint64_t{0});
  state_.totalFiles = e.value("totalFiles", uint64_t{0});
  state_.completedFiles = e.value("completedFiles", uint64_t{0});
  if (phase == "verify") {
    // Counted by the verification itself: checks ended, and checks failed
    // for good.
    verification_.checkedFiles = state_.completedFiles;
    verification_.failedFiles = e.value("failedFiles", uint64_t{0});
  }
  rate_.add(seconds(), state_.processedBytes);
  if (mode_ != OutputMode::Normal) return;
  const auto interval = width_ ? kLiveInterval : kPlainInterval;
  const auto now = Clock::now();
  if (lastDraw_ && now - *lastDraw_ < interval) return;
  lastDraw_ = now;
  draw();
}

void JobDisplay::draw() {
  const double rate = state_.paused ? 0 : rate_.bytesPerSecond();
  if (!width_) {
    out_ << formatStatusLine(state_, rate, 0) << '\n' << std::flush;
    return;
  }
  int columns = width_();
  if (columns <= 1) columns = 80;
  out_ << kClearLine << formatStatusLine(state_, rate, static_cast<size_t>(columns))
       << std::flush;
  lineShown_ = true;
}

int JobDisplay::finish(int workerExitCode) {
  if (lineShown_) out_ << kClearLine << std::flush;
  if (fatal_) {
    err_ << "quorvel-copy: " << *fatal_ << '\n';
    return workerExitCode;
  }
  if (!complete_) {
    // Ended from outside, the worker had no chance to remove its staging
    // files; say where they may be.
    err_ << "quorvel-copy: the worker ended without a \"complete\" or \"fatal\" event (exit code "
         << workerExitCode << "); staging files (*.qv-native-partial-*) may remain beside the "
         << "destinations\n";
    return 1;
  }
  if (mode_ != OutputMode::Json) {
    out_ << formatSummary(*complete_, verifyOnly_, seconds()) << std::flush;
  }
  return workerExitCode;
}

}  // namespace qv::tools
