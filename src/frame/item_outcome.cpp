#include "frame/item_outcome.h"

namespace qv {

void reportItemFailed(JobContext& job, const PlannedFile& item, const std::string& error) {
  job.counters.failedFiles.fetch_add(1);
  job.errors.recordFailure(item.sourcePath, item.destinationPath, error);
  job.events.emitItemEvent("failed", item, error);
}

void reportItemCompleted(JobContext& job, const PlannedFile& item, bool sendEvent) {
  job.counters.completedFiles.fetch_add(1);
  if (sendEvent) job.events.emitItemEvent("completed", item, {});
}

void reportItemSkipped(JobContext& job, const PlannedFile& item) {
  job.counters.skippedFiles.fetch_add(1);
  job.events.emitItemEvent("skipped", item, {});
}

}  // namespace qv
