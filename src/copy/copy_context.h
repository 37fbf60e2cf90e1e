// What the copy engine's steps share during one run of the copy phase.
#ifndef QV_COPY_COPY_CONTEXT_H_
#define QV_COPY_COPY_CONTEXT_H_

#include <cstdint>

#include "frame/job_context.h"
#include "paths/destination_planning.h"

namespace qv {

struct CopyContext {
  JobContext& job;
  // Decides each file's destination under the conflict policy; one per job,
  // so that no two files of the job are given one destination.
  DestinationPlanner& planner;

  PlannedFile& item(uint32_t index) { return job.plan.files[index]; }
};

}  // namespace qv

#endif  // QV_COPY_COPY_CONTEXT_H_
