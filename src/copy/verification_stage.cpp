#include "copy/verification_stage.h"

#include <exception>

#include "copy/commit.h"
#include "copy/retry.h"
#include "copy/staging_cleanup.h"
#include "copy/system_copy.h"
#include "frame/item_outcome.h"
#include "verify/verify_item.h"

namespace qv {
namespace {

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
      reportItemCompleted(job, item, !hasOption(request, kSuppressCompletedEvents));
    } else if (!job.control.cancelled()) {
      discardFile(job.platform, item.stagingPath);
      counters.verifyFailedFiles.fetch_add(1);
      reportItemFailed(job, item, error);
    }
    if (!job.control.cancelled()) {
      counters.verifiedBytes.fetch_add(item.size);
      counters.verifiedFiles.fetch_add(1);
    }
    counters.activeWorkers.fetch_sub(1);
  }
}

}  // namespace qv
