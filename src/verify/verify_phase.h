#ifndef QV_VERIFY_VERIFY_PHASE_H_
#define QV_VERIFY_VERIFY_PHASE_H_

#include "frame/job_context.h"

namespace qv {

// The verify-only job: checks every planned file's destination against its
// source with verifyItem, on verificationWorkerCount() threads that take
// items one at a time in request order, with a progress reporter running
// beside them. Each checked item ends as one "completed" or "failed" item
// event (a failure also as an error-list line); a cancel fails the items in
// hand with "Cancelled." and leaves the rest without an event. The last
// "verify" progress event goes out after every worker has ended.
//
// Returns only after every thread it started has ended. A thread that
// cannot be started, or a failure that is not about an item, cancels the
// job, waits for the threads already running and is raised to the caller.
void runVerifyPhase(JobContext& job);

}  // namespace qv

#endif  // QV_VERIFY_VERIFY_PHASE_H_
