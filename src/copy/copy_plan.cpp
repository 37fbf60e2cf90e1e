#include "copy/copy_plan.h"

#include <algorithm>
#include <string_view>

namespace qv {
namespace {

// The destination's folder as text, for telling runs of one folder apart:
// the path without its last name and the separators before it.
std::u16string_view folderOf(PathStyle style, const std::u16string& path) {
  size_t end = path.size();
  while (end > 0 && !isSeparator(style, path[end - 1])) --end;
  while (end > 0 && isSeparator(style, path[end - 1])) --end;
  return std::u16string_view(path).substr(0, end);
}

// Groups `indices` (in planned order) into runs of one destination folder
// and appends them to `out` one file of each run in turn.
void appendInterleaved(const JobPlan& plan, PathStyle style,
                       const std::vector<uint32_t>& indices, std::vector<uint32_t>& out) {
  std::vector<std::vector<uint32_t>> groups;
  std::u16string_view lastFolder;
  size_t largestGroup = 0;
  for (uint32_t i : indices) {
    const std::u16string_view folder = folderOf(style, plan.files[i].destinationPath);
    if (groups.empty() || folder != lastFolder) {
      groups.emplace_back();
      lastFolder = folder;
    }
    groups.back().push_back(i);
    largestGroup = std::max(largestGroup, groups.back().size());
  }
  out.reserve(out.size() + indices.size());
  for (size_t pass = 0; pass < largestGroup; ++pass) {
    for (const std::vector<uint32_t>& group : groups) {
      if (pass < group.size()) out.push_back(group[pass]);
    }
  }
}

}  // namespace

std::vector<uint32_t> buildCopyOrder(const WorkerRequest& request, const JobPlan& plan,
                                     PathStyle style, bool readAheadOn) {
  std::vector<uint32_t> order;
  std::vector<uint32_t> rest;
  const uint32_t count = static_cast<uint32_t>(plan.files.size());
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t size = plan.files[i].size;
    if (readAheadOn && size <= request.smallFileThreshold) continue;
    (size >= kLargeFileFirst ? order : rest).push_back(i);
  }
  appendInterleaved(plan, style, rest, order);
  return order;
}

std::vector<uint32_t> buildSmallFileList(const WorkerRequest& request, const JobPlan& plan,
                                         bool readAheadOn) {
  std::vector<uint32_t> list;
  if (!readAheadOn) return list;
  const uint32_t count = static_cast<uint32_t>(plan.files.size());
  for (uint32_t i = 0; i < count; ++i) {
    if (plan.files[i].size <= request.smallFileThreshold) list.push_back(i);
  }
  return list;
}

ReadAheadSplit splitReadAhead(const WorkerRequest& request, const JobPlan& plan,
                              uint32_t targetWorkers, size_t smallFileCount) {
  ReadAheadSplit split;
  const size_t fileCount = plan.files.size();
  if (smallFileCount > 0 && fileCount > 0 && targetWorkers > 0) {
    const double share = static_cast<double>(smallFileCount) / static_cast<double>(fileCount);
    const uint32_t wanted = std::max<uint32_t>(
        share >= 0.75 ? targetWorkers / 2 : targetWorkers / 3, 1);
    split.readers = static_cast<uint32_t>(std::min<uint64_t>(
        {wanted, targetWorkers - 1, 16, static_cast<uint64_t>(smallFileCount)}));
  }
  split.copyWorkers = targetWorkers - split.readers;
  const uint64_t threshold = request.smallFileThreshold;
  const uint64_t byQueue = uint64_t{request.readAheadQueueFiles} * threshold;
  const uint64_t byBudget = uint64_t{request.memoryBudgetMiB} * 262144;
  split.byteLimit = std::max<uint64_t>(std::max(threshold, std::min(byQueue, byBudget)), 1);
  split.countLimit = std::max<uint64_t>(request.readAheadQueueFiles, 1);
  return split;
}

}  // namespace qv
