// One job, from "hello" to "complete".
#ifndef QV_JOB_JOB_RUN_H_
#define QV_JOB_JOB_RUN_H_

#include <string>

#include "frame/event_stream.h"
#include "platform/platform.h"

namespace qv {

// Runs the job the request file describes and returns the exit code (0, or
// 2 when any file failed). Job-level failures are raised as standard
// exceptions after staging files have been removed; the caller turns them
// into the "fatal" event.
int runJob(Platform& platform, EventStream& events, const std::u16string& requestPath);

// The whole process after its arguments have been checked: the exit code,
// with a "fatal" event written for a failure.
int runWorker(Platform& platform, EventStream& events, const std::u16string& requestPath);

}  // namespace qv

#endif  // QV_JOB_JOB_RUN_H_
