// Byte comparison of a copy against its source.
#ifndef QV_VERIFY_FILE_COMPARE_H_
#define QV_VERIFY_FILE_COMPARE_H_

#include <cstdint>
#include <string>

#include "verify/verifier.h"

namespace qv {

// The windows a sampled comparison reads: the first, the middle (only for
// files above two windows) and the last.
inline constexpr uint64_t kSampleWindow = 65536;

enum class CompareExtent {
  // Up to three windows of kSampleWindow bytes; the buffer size is ignored.
  Sampled,
  // Every byte, in chunks of the buffer size (0 reads one byte at a time).
  Full,
};

// Compares `size` bytes of the two files (their lengths were checked
// before), reading the source and the target alternately, chunk by chunk.
// Raises "Verification found different file data." on a difference in
// bytes or in how many bytes a read returned, and the open, read, seek and
// cancel failures of the shared steps. A pause holds it at the next chunk.
void compareFiles(Verifier& verifier, const std::u16string& sourcePath,
                  const std::u16string& targetPath, uint64_t size, uint64_t bufferSize,
                  CompareExtent extent);

}  // namespace qv

#endif  // QV_VERIFY_FILE_COMPARE_H_
