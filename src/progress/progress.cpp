#include "progress/progress.h"

#include <chrono>

#include "frame/event_text.h"

namespace qv {
namespace {

constexpr auto kReportPeriod = std::chrono::milliseconds(100);

// A plain average since the phase started; no window, no smoothing. The
// floor keeps the first event of a phase from dividing by (nearly) zero.
uint64_t bytesPerSecond(uint64_t processedBytes, int64_t elapsedNanoseconds) {
  double seconds = static_cast<double>(elapsedNanoseconds) / 1e9;
  if (seconds < 0.001) seconds = 0.001;
  const double rate = static_cast<double>(processedBytes) / seconds;
  // Converting a double at or above 2^64 is undefined.
  if (rate >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<uint64_t>(rate);
}

void appendMember(std::string& line, std::string_view key, uint64_t value) {
  line += ",\"";
  line += key;
  line += "\":";
  appendNumber(line, value);
}

void appendStringMember(std::string& line, std::string_view key,
                        std::string_view escapedValue) {
  line += ",\"";
  line += key;
  line += "\":\"";
  line += escapedValue;
  line += '"';
}

}  // namespace

int64_t monotonicNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string progressEventLine(const JobCounters& counters, std::string_view phase,
                              std::string_view message, uint32_t targetWorkers,
                              uint32_t completedFiles, int64_t phaseStart,
                              std::u16string_view currentFile,
                              uint32_t totalFilesOverride, int64_t now) {
  const bool isCopy = phase == "copy";
  const bool isVerify = phase == "verify";

  const uint64_t totalBytes = counters.totalBytes.load();
  uint64_t processedBytes;
  if (isCopy) {
    // In-flight bytes are added and taken back by racing workers; the sum
    // may pass the total for a moment, the host must never see that.
    const uint64_t sum = counters.copiedBytes.load() + counters.inFlightBytes.load();
    processedBytes = sum < totalBytes ? sum : totalBytes;
  } else {
    processedBytes = counters.verifiedBytes.load();
  }
  const uint32_t totalFiles =
      totalFilesOverride != 0 ? totalFilesOverride : counters.totalFiles.load();
  const uint32_t failedFiles =
      isVerify ? counters.verifyFailedFiles.load() : counters.failedFiles.load();
  const uint32_t queueDepth = totalFiles > completedFiles ? totalFiles - completedFiles : 0;

  std::string line;
  line.reserve(320 + message.size() + 2 * currentFile.size());
  line += "{\"type\":\"progress\"";
  appendStringMember(line, "phase", phase);
  appendStringMember(line, "message", jsonEscape(message));
  appendStringMember(line, "currentFile", jsonEscape(toUtf8(currentFile)));
  appendMember(line, "totalBytes", totalBytes);
  appendMember(line, "processedBytes", processedBytes);
  appendMember(line, "totalFiles", totalFiles);
  appendMember(line, "completedFiles", completedFiles);
  appendMember(line, "skippedFiles", counters.skippedFiles.load());
  appendMember(line, "failedFiles", failedFiles);
  appendMember(line, "activeWorkers", counters.activeWorkers.load());
  appendMember(line, "targetWorkers", targetWorkers);
  appendMember(line, "queueDepth", queueDepth);
  appendMember(line, "bytesPerSecond", bytesPerSecond(processedBytes, now - phaseStart));
  appendMember(line, "retryQueue", counters.retryQueue.load());
  line += '}';
  return line;
}

void sendProgress(JobContext& job, std::string_view phase, std::string_view message,
                  uint32_t targetWorkers, uint32_t completedFiles, int64_t phaseStart,
                  std::u16string_view currentFile, uint32_t totalFilesOverride) {
  job.events.emitLine(progressEventLine(job.counters, phase, message, targetWorkers,
                                        completedFiles, phaseStart, currentFile,
                                        totalFilesOverride, monotonicNanoseconds()));
}

void sendScanProgress(JobContext& job, std::u16string_view currentPath,
                      ScanProgress state) {
  const JobCounters& counters = job.counters;
  std::string line;
  line.reserve(320 + 2 * currentPath.size());
  line += "{\"type\":\"progress\"";
  appendStringMember(line, "phase", "scan");
  appendStringMember(line, "message", state == ScanProgress::kComplete
                                          ? "Source scan complete."
                                          : "Scanning source...");
  appendStringMember(line, "currentFile", jsonEscape(toUtf8(currentPath)));
  appendMember(line, "totalBytes", counters.totalBytes.load());
  appendMember(line, "processedBytes", 0);
  appendMember(line, "totalFiles", counters.totalFiles.load());
  appendMember(line, "completedFiles", 0);
  appendMember(line, "skippedFiles", 0);
  appendMember(line, "failedFiles", counters.failedFiles.load());
  appendMember(line, "activeWorkers", 0);
  appendMember(line, "targetWorkers", 0);
  appendMember(line, "queueDepth", 0);
  appendMember(line, "bytesPerSecond", 0);
  appendMember(line, "retryQueue", 0);
  line += '}';
  job.events.emitLine(line);
}

ProgressReporter::ProgressReporter(JobContext& job, ReporterPhase phase,
                                   uint32_t targetWorkers, int64_t phaseStart,
                                   uint32_t totalFilesOverride)
    : job_(job),
      phase_(phase),
      targetWorkers_(targetWorkers),
      phaseStart_(phaseStart),
      totalFilesOverride_(totalFilesOverride) {}

ProgressReporter::~ProgressReporter() { stopThread(); }

void ProgressReporter::stopThread() {
  {
    // Under the mutex, so the flag cannot clear between the thread's check
    // and its wait (the wake-up would be lost and the join would wait out a
    // whole period).
    std::lock_guard<std::mutex> lock(wakeMutex_);
    running_.store(false);
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ProgressReporter::sendFirst() {
  send("Copying...", 0, job_.control.currentFile());
}

void ProgressReporter::start() {
  running_.store(true);
  try {
    thread_ = std::thread([this] { run(); });
  } catch (...) {
    running_.store(false);
    throw;
  }
}

void ProgressReporter::finish() {
  stopThread();
  if (failure_) std::rethrow_exception(failure_);
  const bool cancelled = job_.control.cancelled();
  if (phase_ == ReporterPhase::kCopy) {
    send(cancelled ? "Copy cancelled." : "Copy phase complete.", completedFiles(), u"");
  } else {
    send(cancelled ? "Verification cancelled." : "Verification complete.",
         completedFiles(), job_.control.currentFile());
  }
}

void ProgressReporter::run() {
  const std::string_view active =
      phase_ == ReporterPhase::kCopy ? "Copying..." : "Verifying...";
  while (running_.load()) {
    try {
      const std::u16string current = job_.control.currentFile();
      send(job_.control.paused() ? "Paused" : active, completedFiles(), current);
    } catch (...) {
      // Out of memory for an event: cancel the job and let finish() raise
      // it on the driver's thread, so the job ends as fatal.
      failure_ = std::current_exception();
      job_.control.cancel();
      return;
    }
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wake_.wait_for(lock, kReportPeriod, [this] { return !running_.load(); });
  }
}

uint32_t ProgressReporter::completedFiles() const {
  const JobCounters& counters = job_.counters;
  if (phase_ == ReporterPhase::kCopy) {
    return counters.copiedFiles.load() + counters.skippedFiles.load() +
           counters.failedFiles.load();
  }
  return counters.verifiedFiles.load();
}

void ProgressReporter::send(std::string_view message, uint32_t completed,
                            std::u16string_view currentFile) {
  sendProgress(job_, phase_ == ReporterPhase::kCopy ? "copy" : "verify", message,
               targetWorkers_, completed, phaseStart_, currentFile, totalFilesOverride_);
}

}  // namespace qv
