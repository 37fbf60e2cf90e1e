#include "verify/verifier.h"

#include "frame/failure_texts.h"

namespace qv {

uint8_t* VerifyBuffers::ensure(std::unique_ptr<uint8_t[]>& buffer, size_t& held,
                               size_t size) {
  if (size == 0) size = 1;
  if (size > held) {
    // Drop the old buffer first so that growing never holds both.
    buffer.reset();
    held = 0;
    // Not zero-filled: a fresh large buffer then costs address space only,
    // and pages are touched as reads fill them.
    buffer = std::make_unique_for_overwrite<uint8_t[]>(size);
    held = size;
  }
  return buffer.get();
}

std::unique_ptr<ReadableFile> openForVerification(Verifier& verifier,
                                                  const std::u16string& path) {
  std::unique_ptr<ReadableFile> file;
  if (SysError error =
          verifier.platform.openForRead(path, ReadPurpose::Verification, file)) {
    throw VerificationFailure("Unable to open file for verification: " +
                              systemErrorText(verifier.platform, error));
  }
  return file;
}

size_t readChunk(Verifier& verifier, ReadableFile& file, uint8_t* buffer, size_t size) {
  size_t bytesRead = 0;
  if (SysError error = file.read(buffer, size, bytesRead)) {
    throw VerificationFailure("Verification read failed: " +
                              systemErrorText(verifier.platform, error));
  }
  return bytesRead;
}

void throwIfCancelled(const Verifier& verifier) {
  if (verifier.control.cancelled()) throw VerificationFailure(kCancelledMessage);
}

}  // namespace qv
