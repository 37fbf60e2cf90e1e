#ifndef QV_COPY_COPY_PHASE_H_
#define QV_COPY_COPY_PHASE_H_

#include "frame/job_context.h"

namespace qv {

// The copy job: plan, create folders, copy, verify when asked, commit.
// Returns only after every thread it started has ended.
void runCopyPhase(JobContext& job);

}  // namespace qv

#endif  // QV_COPY_COPY_PHASE_H_
