#include "verify/verify_phase.h"

#include <vector>

#include "frame/item_outcome.h"
#include "frame/thread_group.h"
#include "frame/worker_count.h"
#include "progress/progress.h"
#include "verify/verify_item.h"

namespace qv {
namespace {

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
    reportItemCompleted(job, item, true);
  } catch (const VerificationFailure& failure) {
    counters.verifyFailedFiles.fetch_add(1);
    reportItemFailed(job, item, failure.what());
  }
  counters.verifiedBytes.fetch_add(item.size);
  counters.verifiedFiles.fetch_add(1);
  counters.activeWorkers.fetch_sub(1);
}

void verifyWorker(JobContext& job) {
  Verifier verifier(job.platform, job.control);
  const std::vector<PlannedFile>& items = job.plan.files;
  while (!job.control.cancelled()) {
    const uint32_t index = job.counters.nextItemIndex.fetch_add(1);
    if (index >= items.size()) return;
    verifyOne(job, verifier, items[index]);
  }
}

}  // namespace

void runVerifyPhase(JobContext& job) {
  const std::vector<PlannedFile>& items = job.plan.files;
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
  {
    ThreadGroup threads(job);
    for (uint32_t i = 0; i < workerCount; ++i) {
      threads.start([&] { verifyWorker(job); });
    }
    threads.joinAll();
  }
  progress.finish();
}

}  // namespace qv
