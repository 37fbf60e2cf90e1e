// The request's retries of a failed copy or verification.

#ifndef QV_COPY_RETRY_H_
#define QV_COPY_RETRY_H_

#include <cstdint>

#include "frame/job_context.h"

namespace qv {

// After a first try that ended `firstTry` (true: it succeeded), calls
// `retry` up to the request's retryCount times until one call returns true,
// checking for a cancelled job before each call. True when any try
// succeeded; a cancel never starts another try but keeps a success.
template <typename Retry>
bool withRetries(const JobContext& job, bool firstTry, Retry retry) {
  bool ok = firstTry;
  for (uint32_t done = 0; !ok && done < job.request.retryCount && !job.control.cancelled();
       ++done) {
    ok = retry();
  }
  return ok;
}

}  // namespace qv

#endif  // QV_COPY_RETRY_H_
