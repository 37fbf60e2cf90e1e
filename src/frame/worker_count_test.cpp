#include "frame/worker_count.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

struct Counts {
  uint32_t workerCount;
  uint32_t verifyWorkerCount;
  uint32_t minimumWorkerCount;
  bool fit;
  uint32_t processors;
  size_t items;
  uint32_t verification;
  uint32_t copy;
};

TEST(WorkerCount, CapMinimumFitAndItems) {
  const Counts cases[] = {
      // workers verify min fit  cpus items  -> verification, copy
      {8, 0, 1, false, 8, 3, 3, 3},
      {300, 0, 500, false, 8, 500, 128, 128},  // the cap is tested first
      {2, 0, 6, false, 8, 10, 6, 6},
      {8, 0, 200, false, 8, 500, 200, 200},  // minimum above 128 wins
      {8, 0, 1, true, 1, 10, 1, 4},
      {64, 0, 1, true, 64, 100, 32, 32},
      {64, 0, 1, true, 7, 100, 3, 9},
      {8, 3, 1, false, 8, 10, 3, 8},  // verifyWorkerCount only for verification
      {0, 0, 0, false, 8, 10, 0, 0},
      {8, 0, 1, false, 8, 0, 0, 0},
      {8, 0, 1, true, 0, 10, 1, 4},  // a processor count of 0 counts as 1
  };
  for (const Counts& c : cases) {
    WorkerRequest request;
    request.workerCount = c.workerCount;
    request.verifyWorkerCount = c.verifyWorkerCount;
    request.minimumWorkerCount = c.minimumWorkerCount;
    request.optionFlags = c.fit ? kFitWorkersToProcessors : 0;
    EXPECT_EQ(verificationWorkerCount(request, c.processors, c.items), c.verification)
        << c.workerCount << "/" << c.minimumWorkerCount << " on " << c.processors;
    EXPECT_EQ(copyWorkerCount(request, c.processors, c.items), c.copy)
        << c.workerCount << "/" << c.minimumWorkerCount << " on " << c.processors;
  }
}

}  // namespace
}  // namespace qv
