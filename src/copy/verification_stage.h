// The copy phase's verification stage: each copied item checked, copied
// again when its check fails, then committed.
#ifndef QV_COPY_VERIFICATION_STAGE_H_
#define QV_COPY_VERIFICATION_STAGE_H_

#include <cstdint>
#include <vector>

#include "copy/copy_context.h"

namespace qv {

// Thread body of the verification stage. Claims positions of
// `verificationList` (item indices) through counters.nextItemIndex,
// verifies each staged (or directly written) copy, re-copies a failing one
// up to retryCount times through the system copier, and commits it.
void verifyCommitWorker(CopyContext& copy, const std::vector<uint32_t>& verificationList);

}  // namespace qv

#endif  // QV_COPY_VERIFICATION_STAGE_H_
