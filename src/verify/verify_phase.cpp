#include "verify/verify_phase.h"

#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "frame/worker_count.h"
#include "progress/progress.h"
#include "verify/verify_item.h"

namespace qv {
namespace {

// The first failure of a worker that is not an item's own (memory, the
// event stream), kept for the driver to raise once every thread has ended.
class WorkerFailure {
 public:
  void capture(std::exception_ptr failure) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_) failure_ = std::move(failure);
  }
  void rethrowIfAny() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::mutex mutex_;  // guards failure_
  std::exception_ptr failure_;
};

// One item: its check, its counters, its event and, on failure, its line in
// the error list. A cancel that cuts the check short fails the item like
// any other failure.
void verifyOne(JobContext& job, Verifier& verifier, const PlannedFile& item) {
  JobCounters& counters = job.counters;
  job.control.setCurrentFile(item.destinationPath);
  counters.activeWorkers.fetch_add(1);
  try {
    verifyItem(verifier, item, job.request.verificationMode, job.request.bufferSize,
               VerifyTarget::Destination);
    counters.completedFiles.fetch_add(1);
    job.events.emitItemEvent("completed", item, "");
  } catch (const VerificationFailure& failure) {
    counters.verifyFailedFiles.fetch_add(1);
    counters.failedFiles.fetch_add(1);
    job.errors.recordFailure(item.sourcePath, item.destinationPath, failure.what());
    job.events.emitItemEvent("failed", item, failure.what());
  }
  counters.verifiedBytes.fetch_add(item.size);
  counters.verifiedFiles.fetch_add(1);
  counters.activeWorkers.fetch_sub(1);
}

void verifyWorker(JobContext& job, WorkerFailure& workerFailure) {
  FolderReuseScope reuse(job.platform);
  try {
    Verifier verifier(job.platform, job.control);
    const std::vector<PlannedFile>& items = job.request.files;
    while (!job.control.cancelled()) {
      const uint32_t index = job.counters.nextItemIndex.fetch_add(1);
      if (index >= items.size()) return;
      verifyOne(job, verifier, items[index]);
    }
  } catch (...) {
    // Nothing may leave a thread body; the job ends as a whole instead.
    workerFailure.capture(std::current_exception());
    job.control.cancel();
  }
}

// Joins every thread in start order. A join that fails cancels the job and
// lets that thread go (destroying a joinable thread would end the process);
// the first such failure is raised once the other threads are joined.
void joinAll(JobContext& job, std::vector<std::thread>& threads) {
  std::exception_ptr failure;
  for (std::thread& thread : threads) {
    try {
      thread.join();
    } catch (...) {
      if (!failure) failure = std::current_exception();
      job.control.cancel();
      if (thread.joinable()) thread.detach();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

void runVerifyPhase(JobContext& job) {
  const std::vector<PlannedFile>& items = job.request.files;
  JobCounters& counters = job.counters;
  counters.totalFiles.exchange(static_cast<uint32_t>(items.size()));
  for (const PlannedFile& item : items) counters.totalBytes.fetch_add(item.size);

  const uint32_t workerCount = verificationWorkerCount(
      job.request, job.platform.logicalProcessorCount(), items.size());
  const int64_t phaseStart = monotonicNanoseconds();
  ProgressReporter progress(job, ReporterPhase::kVerify, workerCount, phaseStart,
                            static_cast<uint32_t>(items.size()));
  progress.start();

  counters.nextItemIndex.exchange(0);
  WorkerFailure workerFailure;
  std::vector<std::thread> workers;
  workers.reserve(workerCount);
  try {
    for (uint32_t i = 0; i < workerCount; ++i) {
      workers.emplace_back(verifyWorker, std::ref(job), std::ref(workerFailure));
    }
  } catch (...) {
    // The job ends as fatal: stop the workers already running before the
    // failure leaves, since a joinable thread must not be destroyed.
    job.control.cancel();
    joinAll(job, workers);
    throw;
  }
  joinAll(job, workers);
  workerFailure.rethrowIfAny();
  progress.finish();
}

}  // namespace qv
