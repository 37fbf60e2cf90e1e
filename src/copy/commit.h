// Making a staged copy visible under its destination name, and ending each
// item with its counts and its one item event.
#ifndef QV_COPY_COMMIT_H_
#define QV_COPY_COMMIT_H_

#include <cstdint>
#include <string>

#include "copy/copy_context.h"

namespace qv {

// Moves the item's staging file onto its destination in one rename, which
// replaces an existing destination only under the overwrite policy. True at
// once for an item already committed (a direct write). On failure the
// staging file stays for removePartialFiles() and the destination keeps what
// it held; `error` gets "Atomic commit failed: " and the system's text.
bool commitStaged(JobContext& job, PlannedFile& item, std::string& error);

// Ends item `itemIndex` after its copy attempts: counts it, commits it now
// or leaves the commit to the verification stage, and reports it. A
// cancelled item is dropped without a count or an event, its staging file
// deleted.
void finishItem(CopyContext& copy, uint32_t itemIndex, bool ok, const std::string& error);

}  // namespace qv

#endif  // QV_COPY_COMMIT_H_
