// Digests of whole files, for the CRC-32 and SHA-256 checks.
#ifndef QV_VERIFY_FILE_DIGESTS_H_
#define QV_VERIFY_FILE_DIGESTS_H_

#include <array>
#include <cstdint>
#include <string>

#include "verify/verifier.h"

namespace qv {

using Sha256Digest = std::array<uint8_t, 32>;

// The standard CRC-32 (zlib's crc32) of the whole file, read in chunks of
// `bufferSize` bytes (0 reads one byte at a time). `sizeHint` is the length
// the file is expected to have; it only bounds the buffer, never the read.
// The cancel flag is tested before the first read and after each chunk; a
// pause holds it before each read.
uint32_t crc32OfFile(Verifier& verifier, const std::u16string& path, uint64_t bufferSize,
                     uint64_t sizeHint);

// The SHA-256 digest of the whole file, read like crc32OfFile but with the
// cancel flag tested before each read. The computation is set up before the
// file is opened; its failures raise "Unable to initialize SHA-256.",
// "Unable to query SHA-256 state.", "Unable to create SHA-256 state.",
// "SHA-256 hashing failed." and "Unable to finish SHA-256.".
Sha256Digest sha256OfFile(Verifier& verifier, const std::u16string& path,
                          uint64_t bufferSize, uint64_t sizeHint);

}  // namespace qv

#endif  // QV_VERIFY_FILE_DIGESTS_H_
