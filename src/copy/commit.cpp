#include "copy/commit.h"

#include <algorithm>
#include <exception>

#include "copy/retry.h"
#include "copy/staging_cleanup.h"
#include "copy/system_copy.h"
#include "verify/verify_item.h"

namespace qv {
namespace {

void reportFailure(JobContext& job, const PlannedFile& item, const std::string& error) {
  job.counters.failedFiles.fetch_add(1);
  job.errors.recordFailure(item.sourcePath, item.destinationPath, error);
  job.events.emitItemEvent("failed", item, error);
}

void reportCompleted(JobContext& job, const PlannedFile& item, bool sendEvent) {
  job.counters.completedFiles.fetch_add(1);
  if (sendEvent) job.events.emitItemEvent("completed", item, {});
}

// True when the item's current copy (staged, or the destination once
// committed) passes; otherwise `error` holds the check's message.
bool verifyCopy(Verifier& verifier, const WorkerRequest& request, const PlannedFile& item,
                std::string& error) {
  try {
    verifyItem(verifier, item, request.verificationMode, request.bufferSize,
               item.committed ? VerifyTarget::Destination : VerifyTarget::Staging);
    return true;
  } catch (const std::exception& failure) {
    error = failure.what();
    return false;
  }
}

}  // namespace

bool commitStaged(JobContext& job, PlannedFile& item, std::string& error) {
  if (item.committed) return true;
  const ExistingTarget existing = conflictPolicyOf(job.request) == ConflictPolicy::kOverwrite
                                      ? ExistingTarget::Replace
                                      : ExistingTarget::Fail;
  if (SysError err =
          job.platform.renameFile(item.stagingPath, item.destinationPath, existing)) {
    error = "Atomic commit failed: " + job.errorText(err);
    return false;
  }
  item.committed = true;
  // Nothing reads the path of a committed staging file again; freeing it
  // keeps a job of a million files from holding a million dead paths.
  std::u16string().swap(item.stagingPath);
  return true;
}

void finishItem(CopyContext& copy, uint32_t itemIndex, bool ok, const std::string& error) {
  JobContext& job = copy.job;
  PlannedFile& item = copy.item(itemIndex);
  const bool cancelled = job.control.cancelled();
  if (!ok) {
    if (!cancelled) reportFailure(job, item, error);
    return;
  }
  if (!item.copied && !item.committed) return;  // skipped, already reported
  if (cancelled && !item.committed) {
    discardFile(job.platform, item.stagingPath);
    item.copied = false;
    return;
  }
  job.counters.copiedFiles.fetch_add(1);
  if (job.request.verificationMode != kVerifyNone) return;  // the verification stage ends it

  if (item.committed) {
    reportCompleted(job, item, !hasOption(job.request, kSuppressCompletedEvents));
    return;
  }
  std::string commitError;
  if (commitStaged(job, item, commitError)) {
    // A staged item reports its commit even when completed events are
    // suppressed: the host learns of the rename only from this event.
    reportCompleted(job, item, true);
    return;
  }
  reportFailure(job, item, commitError);
}

void verifyCommitWorker(CopyContext& copy, const std::vector<uint32_t>& verificationList) {
  JobContext& job = copy.job;
  JobCounters& counters = job.counters;
  const WorkerRequest& request = job.request;
  Verifier verifier(job.platform, job.control);

  for (;;) {
    if (job.control.cancelled()) return;
    const uint32_t position = counters.nextItemIndex.fetch_add(1);
    if (position >= verificationList.size()) return;
    const uint32_t itemIndex = verificationList[position];
    PlannedFile& item = copy.item(itemIndex);
    job.control.setCurrentFile(item.destinationPath);
    counters.activeWorkers.fetch_add(1);

    std::string error;
    bool ok = verifyCopy(verifier, request, item, error);
    if (!ok && !job.control.cancelled()) {
      counters.retryQueue.fetch_add(1);
      ok = withRetries(job, false, [&] {
        item.copied = false;
        subtractFloorZero(counters.copiedBytes, item.size);
        // The staged copy that failed its check would only be met (and
        // removed) by the copier's first try.
        if (!item.committed) discardFile(job.platform, item.stagingPath);
        return copyWithSystemCopier(copy, itemIndex, error) &&
               verifyCopy(verifier, request, item, error);
      });
      counters.retryQueue.fetch_sub(1);
    }

    if (ok && commitStaged(job, item, error)) {
      reportCompleted(job, item, !hasOption(request, kSuppressCompletedEvents));
    } else if (!job.control.cancelled()) {
      discardFile(job.platform, item.stagingPath);
      counters.verifyFailedFiles.fetch_add(1);
      reportFailure(job, item, error);
    }
    if (!job.control.cancelled()) {
      counters.verifiedBytes.fetch_add(item.size);
      counters.verifiedFiles.fetch_add(1);
    }
    counters.activeWorkers.fetch_sub(1);
  }
}

}  // namespace qv
