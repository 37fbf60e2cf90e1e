// How many threads a phase starts, from the request's counts. Kept below the
// copy and verify layers, which both use it, so that the bounds are applied
// the same way everywhere.
#ifndef QV_FRAME_WORKER_COUNT_H_
#define QV_FRAME_WORKER_COUNT_H_

#include <cstddef>
#include <cstdint>

#include "request/request.h"

namespace qv {

inline constexpr uint32_t kMaxWorkers = 128;

// The request's bounds on a thread count: a count above kMaxWorkers becomes
// kMaxWorkers; otherwise a count below minimumWorkerCount is raised to it.
// The cap is tested first, so a minimum above 128 wins over it when the
// count asked for is at most 128.
uint32_t boundedWorkerCount(uint32_t requested, uint32_t minimumWorkerCount);

// Verification threads (the verify-only job and the copy job's verification
// stage): verifyWorkerCount, or workerCount when that is 0; with
// kFitWorkersToProcessors at most half the processors (at least 1); then
// boundedWorkerCount; then at most one per item. `processors` is the
// platform's logical processor count; 0 items give 0 threads.
uint32_t verificationWorkerCount(const WorkerRequest& request, uint32_t processors,
                                 size_t itemCount);

// Copy-stage threads (readers and copy workers together): workerCount; with
// kFitWorkersToProcessors at most processors + 2, that cap kept within 4 to
// 32; then boundedWorkerCount; then at most one per planned file.
uint32_t copyWorkerCount(const WorkerRequest& request, uint32_t processors,
                         size_t fileCount);

}  // namespace qv

#endif  // QV_FRAME_WORKER_COUNT_H_
