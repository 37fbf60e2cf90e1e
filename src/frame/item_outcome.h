// How a planned file's outcome reaches the host: its counter, its line in
// the error list when it failed, and its item event. Every phase ends an
// item through these, so the three always agree.
#ifndef QV_FRAME_ITEM_OUTCOME_H_
#define QV_FRAME_ITEM_OUTCOME_H_

#include <string>

#include "frame/job_context.h"

namespace qv {

// Counted as failed, given its line in the error list and its "failed" event.
void reportItemFailed(JobContext& job, const PlannedFile& item, const std::string& error);

// Counted as completed, and given its "completed" event when `sendEvent` is
// true.
void reportItemCompleted(JobContext& job, const PlannedFile& item, bool sendEvent);

// Counted as skipped and given its "skipped" event.
void reportItemSkipped(JobContext& job, const PlannedFile& item);

}  // namespace qv

#endif  // QV_FRAME_ITEM_OUTCOME_H_
