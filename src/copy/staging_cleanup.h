#ifndef QV_COPY_STAGING_CLEANUP_H_
#define QV_COPY_STAGING_CLEANUP_H_

#include <string>

#include "frame/job_context.h"

namespace qv {

// Deletes a staging file that may carry a read-only attribute; results are
// ignored. The attributes are cleared only when the delete is refused, which
// gives the same end state as clearing first at one call instead of two in
// the common case (no stale file, or a writable one).
void discardFile(Platform& platform, const std::u16string& path);

// Deletes every staging file that was never committed, in list order, after
// giving it normal attributes. Results are ignored: a staging file that never
// existed costs one failed call. Under direct writes the staging path is the
// destination, so an uncommitted direct copy goes too.
void removePartialFiles(JobContext& job);

}  // namespace qv

#endif  // QV_COPY_STAGING_CLEANUP_H_
