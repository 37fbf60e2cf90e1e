#include "copy/copy_phase.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "copy/commit.h"
#include "copy/copy_context.h"
#include "copy/copy_plan.h"
#include "copy/destination_directories.h"
#include "copy/read_ahead.h"
#include "copy/read_ahead_queue.h"
#include "copy/system_copy.h"
#include "copy/verification_stage.h"
#include "frame/thread_group.h"
#include "frame/worker_count.h"
#include "paths/destination_planning.h"
#include "paths/source_scan.h"
#include "progress/progress.h"
#include "verify/verify_item.h"

namespace qv {
namespace {

// Takes buffers already in memory before starting a new file, and ends only
// when the read-ahead side has nothing more to give.
void copyWorker(CopyContext& copy, ReadAheadQueue& queue, std::atomic<uint32_t>& nextPosition,
                const std::vector<uint32_t>& copyOrder) {
  const ControlState& control = copy.job.control;
  ReadAheadBuffer buffer;
  bool orderUsedUp = false;
  while (!control.cancelled()) {
    if (!queue.tryTake(buffer)) {
      if (!orderUsedUp) {
        const uint32_t position = nextPosition.fetch_add(1);
        if (position < copyOrder.size()) {
          copyItem(copy, copyOrder[position]);
          continue;
        }
        orderUsedUp = true;
      }
      if (!queue.take(buffer)) return;
    }
    writeBufferedItem(copy, buffer);
  }
}

// Gives the host a moment to cancel before any file is touched.
bool pauseBeforeCopying(const ControlState& control) {
  for (int i = 0; i < 4 && !control.cancelled(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return !control.cancelled();
}

void addPrePlannedTotals(JobContext& job) {
  for (const PlannedFile& file : job.plan.files) {
    job.counters.totalBytes.fetch_add(file.size);
  }
  job.counters.totalFiles.exchange(static_cast<uint32_t>(job.plan.files.size()));
  sendScanProgress(job, u"", ScanProgress::kComplete);
}

// The copy stage. False when it was cancelled before any thread started.
bool runCopyStage(CopyContext& copy, uint32_t processors) {
  JobContext& job = copy.job;
  const WorkerRequest& request = job.request;
  const JobPlan& plan = job.plan;
  const uint32_t targetWorkers = copyWorkerCount(request, processors, plan.files.size());

  ProgressReporter progress(job, ReporterPhase::kCopy, targetWorkers,
                            monotonicNanoseconds(), 0);
  progress.sendFirst();
  if (!pauseBeforeCopying(job.control)) return false;
  progress.start();

  const bool readAheadOn = hasOption(request, kSmallFileReadAhead) && targetWorkers >= 2;
  const std::vector<uint32_t> copyOrder =
      buildCopyOrder(request, plan, job.platform.pathStyle(), readAheadOn);
  const std::vector<uint32_t> smallFiles = buildSmallFileList(request, plan, readAheadOn);
  const ReadAheadSplit split = splitReadAhead(request, plan, targetWorkers, smallFiles.size());
  ReadAheadQueue queue(job.control, split.countLimit, split.byteLimit);
  if (split.readers == 0) queue.close();

  std::atomic<uint32_t> nextCopy{0};
  std::atomic<uint32_t> nextSmall{0};
  std::atomic<uint32_t> remainingReaders{split.readers};
  {
    ThreadGroup threads(job);
    for (uint32_t i = 0; i < split.copyWorkers; ++i) {
      threads.start([&] { copyWorker(copy, queue, nextCopy, copyOrder); });
    }
    for (uint32_t i = 0; i < split.readers; ++i) {
      threads.start(
          [&] { readAheadReader(copy, queue, nextSmall, smallFiles, remainingReaders); });
    }
    threads.joinAll();
  }
  progress.finish();
  return true;
}

void runVerificationStage(CopyContext& copy, uint32_t processors,
                          const std::vector<uint32_t>& verificationList) {
  JobContext& job = copy.job;
  const uint32_t threadCount =
      verificationWorkerCount(job.request, processors, verificationList.size());
  job.counters.nextItemIndex.exchange(0);
  job.counters.activeWorkers.exchange(0);
  ProgressReporter progress(job, ReporterPhase::kVerify, threadCount, monotonicNanoseconds(),
                            static_cast<uint32_t>(verificationList.size()));
  progress.start();
  {
    ThreadGroup threads(job);
    for (uint32_t i = 0; i < threadCount; ++i) {
      threads.start([&] { verifyCommitWorker(copy, verificationList); });
    }
    threads.joinAll();
  }
  progress.finish();
}

}  // namespace

void runCopyPhase(JobContext& job) {
  const WorkerRequest& request = job.request;
  if (hasOption(request, kPrePlanned)) {
    addPrePlannedTotals(job);
  } else {
    scanSources(job);
  }
  if (job.control.cancelled()) return;

  const JobFolders folders = createDestinationDirectories(job);

  const uint32_t processors = job.platform.logicalProcessorCount();
  DestinationPlanner planner(job, &folders);
  CopyContext copy{job, planner};
  if (!runCopyStage(copy, processors)) return;
  if (job.control.cancelled()) return;

  if (request.verificationMode != kVerifyNone) {
    std::vector<uint32_t> verificationList;
    const uint32_t count = static_cast<uint32_t>(job.plan.files.size());
    for (uint32_t i = 0; i < count; ++i) {
      if (job.plan.files[i].copied) verificationList.push_back(i);
    }
    if (!verificationList.empty()) {
      runVerificationStage(copy, processors, verificationList);
      if (job.control.cancelled()) return;
    }
  }
  applyDirectoryMetadata(job);
}

}  // namespace qv
