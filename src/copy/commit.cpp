#include "copy/commit.h"

#include "copy/staging_cleanup.h"
#include "frame/item_outcome.h"
#include "verify/verify_item.h"

namespace qv {

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
    if (!cancelled) reportItemFailed(job, item, error);
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
    reportItemCompleted(job, item, !hasOption(job.request, kSuppressCompletedEvents));
    return;
  }
  std::string commitError;
  if (commitStaged(job, item, commitError)) {
    // A staged item reports its commit even when completed events are
    // suppressed: the host learns of the rename only from this event.
    reportItemCompleted(job, item, true);
    return;
  }
  reportItemFailed(job, item, commitError);
}

}  // namespace qv
