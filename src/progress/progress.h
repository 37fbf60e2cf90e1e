// Progress events: how a running job reports itself to the host, drawn from
// the job counters, and the reporter thread that sends them every 100 ms.
//
// Every event is one line of fifteen members, always in this order:
//   type, phase, message, currentFile, totalBytes, processedBytes,
//   totalFiles, completedFiles, skippedFiles, failedFiles, activeWorkers,
//   targetWorkers, queueDepth, bytesPerSecond, retryQueue
// with no blanks and numbers in plain unsigned decimal. Counters are loaded
// one by one, so an event is not a snapshot of one instant.
#ifndef QV_PROGRESS_PROGRESS_H_
#define QV_PROGRESS_PROGRESS_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "frame/job_context.h"
#include "frame/job_counters.h"

namespace qv {

// Nanoseconds on the monotonic clock. Only differences mean anything; take
// a phase's start time from here.
int64_t monotonicNanoseconds();

// Builds one progress event line (without its line feed) from `counters`,
// reading the clock as `now`. The phase is recognised by its exact text:
// - "copy":   processedBytes = min(copiedBytes + inFlightBytes, totalBytes),
//             failedFiles = failedFiles;
// - "verify": processedBytes = verifiedBytes,
//             failedFiles = verifyFailedFiles;
// - anything else: processedBytes = verifiedBytes, failedFiles = failedFiles.
// totalFiles is `totalFilesOverride` when it is not 0, else the counter.
// queueDepth is totalFiles - completedFiles as sent, 0 when not positive.
// bytesPerSecond is processedBytes / elapsed seconds since `phaseStart`,
// truncated, with elapsed never taken below 0.001 s. `message` and
// `currentFile` are escaped; an unconvertible currentFile becomes "".
// Never fails on account of the counters' values. Exposed so that the
// arithmetic can be checked without a clock.
std::string progressEventLine(const JobCounters& counters, std::string_view phase,
                              std::string_view message, uint32_t targetWorkers,
                              uint32_t completedFiles, int64_t phaseStart,
                              std::u16string_view currentFile,
                              uint32_t totalFilesOverride, int64_t now);

// Writes one progress event through the job's event stream, as
// progressEventLine() builds it with the monotonic clock read now. Safe to
// call from any thread; the line goes out whole.
void sendProgress(JobContext& job, std::string_view phase, std::string_view message,
                  uint32_t targetWorkers, uint32_t completedFiles, int64_t phaseStart,
                  std::u16string_view currentFile, uint32_t totalFilesOverride);

enum class ScanProgress {
  kScanning,  // "Scanning source..." (every 512th file counted)
  kComplete,  // "Source scan complete." (once, with an empty path)
};

// The scan's form of the event: phase "scan"; only totalBytes, totalFiles
// and failedFiles come from the counters, and `currentPath` fills
// currentFile; every other number is 0. Also sent once, with kComplete and
// an empty path, by a copy job whose files come ready-made in the request.
void sendScanProgress(JobContext& job, std::u16string_view currentPath,
                      ScanProgress state);

// Which phase a reporter speaks for; it fixes the messages and what counts
// as a completed file.
enum class ReporterPhase {
  // The copy stage: "Copying..." / "Copy phase complete." /
  // "Copy cancelled."; completed = copied + skipped + failed.
  kCopy,
  // The verification stage of a copy job or a verify-only job:
  // "Verifying..." / "Verification complete." / "Verification cancelled.";
  // completed = verifiedFiles.
  kVerify,
};

// One phase's progress: the optional first event, the thread that sends an
// event every 100 ms while the phase runs ("Paused" while the job is
// paused), and the last event. Used by one phase driver on one thread:
//
//   int64_t start = monotonicNanoseconds();
//   ProgressReporter progress(job, ReporterPhase::kCopy, threads, start, 0);
//   progress.sendFirst();   // the copy stage only
//   progress.start();       // may throw; the job then ends as fatal
//   ... start the workers and join them all ...
//   progress.finish();
class ProgressReporter {
 public:
  // `targetWorkers` is the number of worker threads the phase starts.
  // `totalFilesOverride` is 0 for the copy stage (the counter is used), the
  // size of the verification list for the verification stage, and the
  // number of planned files for a verify-only job.
  ProgressReporter(JobContext& job, ReporterPhase phase, uint32_t targetWorkers,
                   int64_t phaseStart, uint32_t totalFilesOverride);
  // Stops a reporter that was started and not finished (when the driver
  // unwinds through an exception), without sending a last event.
  ~ProgressReporter();

  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  // kCopy only: the event that goes out before any copy thread starts,
  // "Copying..." with completedFiles 0.
  void sendFirst();

  // Sets the running flag and starts the thread, whose first event goes out
  // at once. Throws std::system_error when the thread cannot be started (a
  // job-level failure). Call once.
  void start();

  // Clears the running flag, wakes the thread from its sleep and joins it;
  // raises what ended the thread early, if anything did (the job then ends
  // as fatal); then sends the phase's last event, whose message says
  // whether the job was cancelled. The copy stage sends it with an empty
  // currentFile, a verification phase with the current file slot. Sends
  // the last event even when start() was never called (a phase with
  // nothing to do). Call once.
  void finish();

 private:
  void run();
  // Clears the running flag, cuts the thread's sleep short and joins it.
  void stopThread();
  // The event's completedFiles for this phase, read from the counters now.
  uint32_t completedFiles() const;
  void send(std::string_view message, uint32_t completed,
            std::u16string_view currentFile);

  JobContext& job_;
  const ReporterPhase phase_;
  const uint32_t targetWorkers_;
  const int64_t phaseStart_;
  const uint32_t totalFilesOverride_;
  std::atomic<bool> running_{false};
  std::mutex wakeMutex_;  // pairs with wake_; held while running_ clears
  std::condition_variable wake_;
  std::thread thread_;
  // What ended the thread early; written by the thread before it ends and
  // read after the join.
  std::exception_ptr failure_;
};

}  // namespace qv

#endif  // QV_PROGRESS_PROGRESS_H_
