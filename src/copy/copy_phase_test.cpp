#include "copy/copy_phase.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "copy/copy_test_fixture.h"

namespace qv::test {
namespace {

// A failure that is not an item's own (here: memory) raised on a copy
// thread must leave the phase as an exception, so that the job ends as
// fatal, instead of ending the process.
TEST(CopyPhase, FailureOnAStageThreadLeavesThePhase) {
  // The commit's rename runs outside every per-item catch, on the thread
  // that wrote the staging file.
  struct Case {
    const char* name;
    bool readAhead;
  };
  const Case cases[] = {{"written from memory", true}, {"system copier", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CopyHarness h;
    h.request.workerCount = 4;
    h.request.smallFileThreshold = 262144;
    h.request.optionFlags = kPrePlanned | (c.readAhead ? kSmallFileReadAhead : 0);
    for (int i = 0; i < 6; ++i) {
      const std::string n = std::to_string(i);
      h.planFile("src/f" + n, "bytes of " + n, "dst/f" + n);
    }
    h.platform.addHook(
        Op::RenameFile, When::Before, [](const std::u16string&) { throw std::bad_alloc(); },
        {h.plan.files[3].destinationPath, 0, 1});
    EXPECT_THROW(runCopyPhase(h.job), std::bad_alloc);
    EXPECT_TRUE(h.job.control.cancelled());
  }
}

}  // namespace
}  // namespace qv::test
