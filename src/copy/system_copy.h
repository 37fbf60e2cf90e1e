// Copying one file through the system copier, with the checks that the
// source stayed the file that was planned.
#ifndef QV_COPY_SYSTEM_COPY_H_
#define QV_COPY_SYSTEM_COPY_H_

#include <cstdint>
#include <string>

#include "copy/copy_context.h"

namespace qv {

// Files up to this size go through the copier's small form, which cannot be
// cancelled or paused once it has started.
constexpr uint64_t kLargestSmallFormCopy = 16777216;

// One attempt for item `itemIndex`: the conflict decision, the staging path,
// the source's identity (size and last-write time), the copy and the check
// that the identity did not change meanwhile. True when the item was copied
// (copied set; committed too under direct writes) or skipped by the conflict
// decision (neither flag set). False with the attempt's message in `error`;
// no staging file of the attempt is left behind. Never throws.
bool copyWithSystemCopier(CopyContext& copy, uint32_t itemIndex, std::string& error);

// The per-file step of copy workers and of readers that fall back: up to
// retryCount + 1 attempts one after the other, then finishItem().
void copyItem(CopyContext& copy, uint32_t itemIndex);

}  // namespace qv

#endif  // QV_COPY_SYSTEM_COPY_H_
