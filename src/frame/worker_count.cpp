#include "frame/worker_count.h"

#include <algorithm>

namespace qv {
namespace {

uint32_t atMostOnePerItem(uint32_t workers, size_t itemCount) {
  return static_cast<uint32_t>(std::min<size_t>(workers, itemCount));
}

}  // namespace

uint32_t boundedWorkerCount(uint32_t requested, uint32_t minimumWorkerCount) {
  if (requested > kMaxWorkers) return kMaxWorkers;
  return std::max(requested, minimumWorkerCount);
}

uint32_t verificationWorkerCount(const WorkerRequest& request, uint32_t processors,
                                 size_t itemCount) {
  if (itemCount == 0) return 0;
  processors = std::max<uint32_t>(processors, 1);
  uint32_t n = request.verifyWorkerCount != 0 ? request.verifyWorkerCount
                                              : request.workerCount;
  if (hasOption(request, kFitWorkersToProcessors)) {
    n = std::min(std::max<uint32_t>(processors / 2, 1), n);
  }
  return atMostOnePerItem(boundedWorkerCount(n, request.minimumWorkerCount), itemCount);
}

uint32_t copyWorkerCount(const WorkerRequest& request, uint32_t processors,
                         size_t fileCount) {
  processors = std::max<uint32_t>(processors, 1);
  uint32_t n = request.workerCount;
  if (hasOption(request, kFitWorkersToProcessors)) {
    // Computed in 64 bits: processors + 2 must not wrap.
    const uint64_t cap = std::clamp<uint64_t>(uint64_t{processors} + 2, 4, 32);
    n = static_cast<uint32_t>(std::min<uint64_t>(n, cap));
  }
  return atMostOnePerItem(boundedWorkerCount(n, request.minimumWorkerCount), fileCount);
}

}  // namespace qv
