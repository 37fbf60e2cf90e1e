#include "copy/copy_plan.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

JobPlan planOf(std::initializer_list<std::pair<const char16_t*, uint64_t>> files) {
  JobPlan plan;
  for (const auto& [destination, size] : files) {
    plan.files.emplace_back();
    plan.files.back().destinationPath = destination;
    plan.files.back().size = size;
  }
  return plan;
}

TEST(CopyOrder, LargeFilesFirstThenFolderRunsInterleaved) {
  const WorkerRequest request;
  const JobPlan plan = planOf({{u"/d/A/big", 5000000}, {u"/d/A/a1", 300000},
                               {u"/d/A/a2", 300000},   {u"/d/B/b1", 300000},
                               {u"/d/A/a3", 300000},   {u"/d/B/big", kLargeFileFirst},
                               {u"/d/B/b2", 300000},   {u"/d/C/c1", 300000},
                               {u"/d/C/tiny", 10}});
  // A's files form two runs because B's file comes between them; the large
  // file of B does not end A's run.
  EXPECT_EQ(buildCopyOrder(request, plan, PathStyle::Posix, false),
            (std::vector<uint32_t>{0, 5, 1, 3, 4, 6, 7, 2, 8}));
  // With read-ahead the readers take every file up to the threshold.
  EXPECT_EQ(buildCopyOrder(request, plan, PathStyle::Posix, true),
            (std::vector<uint32_t>{0, 5, 1, 3, 4, 6, 7, 2}));
  EXPECT_EQ(buildSmallFileList(request, plan, true), (std::vector<uint32_t>{8}));
  EXPECT_EQ(buildSmallFileList(request, plan, false), (std::vector<uint32_t>{}));
  // A backslash is part of a POSIX name, so these share the folder /d; in
  // the Windows style /d/x is a folder of its own with two files.
  const JobPlan slashes = planOf({{u"/d/x\\one", 1}, {u"/d/x\\two", 1}, {u"/d/y", 1}});
  EXPECT_EQ(buildCopyOrder(request, slashes, PathStyle::Posix, false),
            (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(buildCopyOrder(request, slashes, PathStyle::Windows, false),
            (std::vector<uint32_t>{0, 2, 1}));
}

TEST(ReadAheadSplit, ReadersAndQueueLimits) {
  const struct {
    const char* name;
    size_t files;
    size_t small;
    uint32_t threads;
    uint32_t readers;
  } cases[] = {
      {"three quarters small: half read", 10, 8, 8, 4},
      {"few small: a third read", 10, 3, 8, 2},
      {"never more than 16", 40, 40, 40, 16},
      {"never all threads", 2, 2, 1, 0},
      {"never more than the small files", 100, 1, 9, 1},
      {"no small file, no reader", 10, 0, 8, 0},
  };
  for (const auto& c : cases) {
    JobPlan plan;
    plan.files.resize(c.files);
    const ReadAheadSplit split = splitReadAhead(WorkerRequest{}, plan, c.threads, c.small);
    EXPECT_EQ(split.readers, c.readers) << c.name;
    EXPECT_EQ(split.copyWorkers, c.threads - c.readers) << c.name;
    EXPECT_EQ(split.countLimit, 128u);
    EXPECT_EQ(split.byteLimit, 33554432u);
  }
  WorkerRequest budget;
  budget.memoryBudgetMiB = 4;  // a quarter: 1 MiB
  EXPECT_EQ(splitReadAhead(budget, JobPlan{}, 2, 0).byteLimit, 1048576u);
  budget.memoryBudgetMiB = 0;  // never below one small file
  EXPECT_EQ(splitReadAhead(budget, JobPlan{}, 2, 0).byteLimit, 262144u);
}

}  // namespace
}  // namespace qv
