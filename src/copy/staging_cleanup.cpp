#include "copy/staging_cleanup.h"

namespace qv {

void discardFile(Platform& platform, const std::u16string& path) {
  if (path.empty()) return;
  const SysError err = platform.removeFile(path);
  if (err == 0 || platform.isNotFoundFamily(err)) return;
  (void)platform.setAttributes(path, platform.normalAttributes());
  (void)platform.removeFile(path);
}

void removePartialFiles(JobContext& job) {
  for (const PlannedFile& item : job.plan.files) {
    if (item.committed || item.stagingPath.empty()) continue;
    discardFile(job.platform, item.stagingPath);
  }
}

}  // namespace qv
