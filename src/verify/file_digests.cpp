#include "verify/file_digests.h"

#include <algorithm>

#include "verify/crc32.h"

namespace qv {
namespace {

// The read length of a digest: the request's buffer size, but no more than
// the file is expected to hold plus one byte, so that a small file is read
// whole by one call whose short count already says the end was reached
// (reads return short only at the end of a file).
size_t digestReadLength(uint64_t bufferSize, uint64_t sizeHint) {
  const uint64_t fileBound = sizeHint < UINT64_MAX ? sizeHint + 1 : sizeHint;
  return static_cast<size_t>(std::max<uint64_t>(std::min(bufferSize, fileBound), 1));
}

const char* sha256SetupMessage(Sha256Failure failure) {
  switch (failure) {
    case Sha256Failure::OpenProvider:
      return "Unable to initialize SHA-256.";
    case Sha256Failure::QueryObjectLength:
      return "Unable to query SHA-256 state.";
    case Sha256Failure::CreateHash:
    case Sha256Failure::None:
      break;
  }
  // A platform that returns no computation without naming a step failed at
  // the last one.
  return "Unable to create SHA-256 state.";
}

}  // namespace

uint32_t crc32OfFile(Verifier& verifier, const std::u16string& path, uint64_t bufferSize,
                     uint64_t sizeHint) {
  std::unique_ptr<ReadableFile> file = openForVerification(verifier, path);
  const size_t length = digestReadLength(bufferSize, sizeHint);
  uint8_t* buffer = verifier.buffers.first(length);
  throwIfCancelled(verifier);
  uint32_t crc = 0;
  for (;;) {
    verifier.control.waitWhilePaused();
    const size_t n = readChunk(verifier, *file, buffer, length);
    if (n == 0) break;
    crc = crc32Update(crc, buffer, n);
    // Tested after the chunk, so a cancel lets the chunk in hand finish.
    throwIfCancelled(verifier);
    if (n < length) break;  // a short read is the end of the file
  }
  return crc;
}

Sha256Digest sha256OfFile(Verifier& verifier, const std::u16string& path,
                          uint64_t bufferSize, uint64_t sizeHint) {
  Sha256Failure failure = Sha256Failure::None;
  // Owned here, so every raise below releases the hash.
  std::unique_ptr<Sha256> hash = verifier.platform.createSha256(failure);
  if (!hash) throw VerificationFailure(sha256SetupMessage(failure));

  std::unique_ptr<ReadableFile> file = openForVerification(verifier, path);
  const size_t length = digestReadLength(bufferSize, sizeHint);
  uint8_t* buffer = verifier.buffers.first(length);
  for (;;) {
    throwIfCancelled(verifier);
    verifier.control.waitWhilePaused();
    const size_t n = readChunk(verifier, *file, buffer, length);
    if (n == 0) break;
    if (!hash->update(buffer, n)) throw VerificationFailure("SHA-256 hashing failed.");
    if (n < length) break;  // a short read is the end of the file
  }
  Sha256Digest digest{};
  if (!hash->finish(digest.data())) throw VerificationFailure("Unable to finish SHA-256.");
  return digest;
}

}  // namespace qv
