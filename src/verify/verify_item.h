// Whether one copy equals its source: the check both the copy engine's
// verification stage and the verify-only job run on each item.
#ifndef QV_VERIFY_VERIFY_ITEM_H_
#define QV_VERIFY_VERIFY_ITEM_H_

#include <cstdint>

#include "request/job_plan.h"
#include "verify/verifier.h"

namespace qv {

// The request's verification mode byte. Values above kFullBytes are not
// refused when the request is read; they fail each item that reaches the
// mode check.
enum VerificationMode : uint8_t {
  kVerifyNone = 0,
  kVerifySampledBytes = 1,
  kVerifyCrc32 = 2,
  kVerifySha256 = 3,
  kVerifyFullBytes = 4,
};

// Which copy of the item is checked.
enum class VerifyTarget {
  Destination,  // the item's destinationPath
  Staging,      // the item's stagingPath, before the commit
};

// Returns when the copy is good; raises VerificationFailure otherwise. The
// order of the checks is part of the contract, because it decides which
// message an item gets:
//   1. the source side (readPath when set, else sourcePath), then the
//      target, must open for their information: "The source or destination
//      is missing.";
//   2. both sizes must equal item.size: "Verification found a file-length
//      mismatch." (no data is read before this);
//   3. the mode: 0 passes; 1 and 4 compare bytes; 2 and 3 digest the target
//      completely, then the source, and fail with "CRC32 verification
//      failed." or "SHA-256 verification failed."; any other value fails
//      with "Unsupported verification mode.".
// Reading checks also raise the failures of compareFiles, crc32OfFile and
// sha256OfFile, "Cancelled." among them. Nothing is changed on disk and no
// handle or hash outlives the call. Calls on different Verifiers may run at
// once.
void verifyItem(Verifier& verifier, const PlannedFile& item, uint8_t mode,
                uint64_t bufferSize, VerifyTarget target);

}  // namespace qv

#endif  // QV_VERIFY_VERIFY_ITEM_H_
