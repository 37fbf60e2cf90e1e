// Everything a phase shares with the rest of the job, passed down instead of
// held in globals so that a test can run a phase against captured events.
#ifndef QV_FRAME_JOB_CONTEXT_H_
#define QV_FRAME_JOB_CONTEXT_H_

#include "frame/control_state.h"
#include "frame/event_stream.h"
#include "frame/failure_texts.h"
#include "frame/job_counters.h"
#include "platform/platform.h"
#include "request/job_plan.h"
#include "request/request.h"

namespace qv {

struct JobContext {
  Platform& platform;
  EventStream& events;
  ControlState& control;
  ErrorList& errors;
  JobCounters& counters;
  const WorkerRequest& request;
  // See JobPlan for which phase writes which field.
  JobPlan& plan;

  std::string errorText(SysError code) { return systemErrorText(platform, code); }
};

}  // namespace qv

#endif  // QV_FRAME_JOB_CONTEXT_H_
