#ifndef QV_VERIFY_VERIFY_PHASE_H_
#define QV_VERIFY_VERIFY_PHASE_H_

#include "frame/job_context.h"

namespace qv {

// The verify-only job: checks every planned file's destination against its
// source. Returns only after every thread it started has ended.
void runVerifyPhase(JobContext& job);

}  // namespace qv

#endif  // QV_VERIFY_VERIFY_PHASE_H_
