#include "copy/staging_cleanup.h"

namespace qv {

void removePartialFiles(JobContext& job) {
  const uint32_t normal = job.platform.normalAttributes();
  for (const PlannedFile& item : job.request.files) {
    if (item.committed || item.stagingPath.empty()) continue;
    (void)job.platform.setAttributes(item.stagingPath, normal);
    (void)job.platform.removeFile(item.stagingPath);
  }
}

}  // namespace qv
