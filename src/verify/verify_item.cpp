#include "verify/verify_item.h"

#include "verify/file_compare.h"
#include "verify/file_digests.h"

namespace qv {
namespace {

uint64_t existingSize(Verifier& verifier, const std::u16string& path) {
  FileInfo info;
  if (verifier.platform.readFileInfo(path, info) != 0) {
    throw VerificationFailure("The source or destination is missing.");
  }
  return info.size;
}

}  // namespace

void verifyItem(Verifier& verifier, const PlannedFile& item, uint8_t mode,
                uint64_t bufferSize, VerifyTarget target) {
  const std::u16string& source = item.readPath.empty() ? item.sourcePath : item.readPath;
  const std::u16string& copy =
      target == VerifyTarget::Staging ? item.stagingPath : item.destinationPath;

  const uint64_t sourceSize = existingSize(verifier, source);
  const uint64_t copySize = existingSize(verifier, copy);
  if (sourceSize != copySize || sourceSize != item.size) {
    throw VerificationFailure("Verification found a file-length mismatch.");
  }

  const uint64_t size = item.size;
  switch (mode) {
    case kVerifyNone:
      return;
    case kVerifySampledBytes:
      compareFiles(verifier, source, copy, size, bufferSize, CompareExtent::Sampled);
      return;
    case kVerifyCrc32: {
      // The copy is digested completely before the source is opened, so a
      // copy that cannot be read fails the item before the source is read.
      const uint32_t copyCrc = crc32OfFile(verifier, copy, bufferSize, size);
      if (copyCrc != crc32OfFile(verifier, source, bufferSize, size)) {
        throw VerificationFailure("CRC32 verification failed.");
      }
      return;
    }
    case kVerifySha256: {
      const Sha256Digest copyDigest = sha256OfFile(verifier, copy, bufferSize, size);
      if (copyDigest != sha256OfFile(verifier, source, bufferSize, size)) {
        throw VerificationFailure("SHA-256 verification failed.");
      }
      return;
    }
    case kVerifyFullBytes:
      compareFiles(verifier, source, copy, size, bufferSize, CompareExtent::Full);
      return;
    default:
      throw VerificationFailure("Unsupported verification mode.");
  }
}

}  // namespace qv
