#ifndef QV_COPY_STAGING_CLEANUP_H_
#define QV_COPY_STAGING_CLEANUP_H_

#include "frame/job_context.h"

namespace qv {

// Deletes every staging file that was never committed, in list order, after
// giving it normal attributes. Results are ignored: a staging file that never
// existed costs one failed call. Under direct writes the staging path is the
// destination, so an uncommitted direct copy goes too.
void removePartialFiles(JobContext& job);

}  // namespace qv

#endif  // QV_COPY_STAGING_CLEANUP_H_
