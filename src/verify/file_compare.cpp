#include "verify/file_compare.h"

#include <algorithm>
#include <cstring>

#include "frame/failure_texts.h"

namespace qv {
namespace {

// The two open files and their buffers, positioned where the next range
// starts.
struct ComparePair {
  Verifier& verifier;
  ReadableFile& source;
  ReadableFile& target;
  uint8_t* sourceBuffer;
  uint8_t* targetBuffer;
  size_t bufferLength;
};

// Compares the next `count` bytes from the current positions. Both files
// ending early together is not a difference: the lengths were already
// checked, and a file that shrinks on both sides alike still matches.
void compareRange(ComparePair& pair, uint64_t count) {
  uint64_t done = 0;
  while (done < count) {
    throwIfCancelled(pair.verifier);
    pair.verifier.control.waitWhilePaused();
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count - done, pair.bufferLength));
    const size_t s = readChunk(pair.verifier, pair.source, pair.sourceBuffer, n);
    const size_t t = readChunk(pair.verifier, pair.target, pair.targetBuffer, n);
    if (s != t || std::memcmp(pair.sourceBuffer, pair.targetBuffer, s) != 0) {
      throw VerificationFailure("Verification found different file data.");
    }
    if (s == 0) return;
    done += s;
  }
}

void seekBoth(ComparePair& pair, uint64_t offset) {
  for (ReadableFile* file : {&pair.source, &pair.target}) {
    if (SysError error = file->seek(offset)) {
      throw VerificationFailure("Verification seek failed: " +
                                systemErrorText(pair.verifier.platform, error));
    }
  }
}

}  // namespace

void compareFiles(Verifier& verifier, const std::u16string& sourcePath,
                  const std::u16string& targetPath, uint64_t size, uint64_t bufferSize,
                  CompareExtent extent) {
  // Declared source first, so the target is closed first.
  std::unique_ptr<ReadableFile> source = openForVerification(verifier, sourcePath);
  std::unique_ptr<ReadableFile> target = openForVerification(verifier, targetPath);

  const bool sampled = extent == CompareExtent::Sampled;
  // A full comparison never needs more than the file holds, so a small file
  // does not make the thread's buffers grow to the request's buffer size.
  uint64_t length = sampled ? std::min(size, kSampleWindow) : std::min(size, bufferSize);
  if (length == 0) length = 1;
  const size_t bufferLength = static_cast<size_t>(length);
  ComparePair pair{verifier,
                   *source,
                   *target,
                   verifier.buffers.first(bufferLength),
                   verifier.buffers.second(bufferLength),
                   bufferLength};

  if (sampled && size > kSampleWindow) {
    compareRange(pair, kSampleWindow);
    if (size > 2 * kSampleWindow) {
      seekBoth(pair, (size - kSampleWindow) / 2);
      compareRange(pair, kSampleWindow);
    }
    // Between one and two windows the last window overlaps the first.
    seekBoth(pair, size - kSampleWindow);
    compareRange(pair, kSampleWindow);
  } else {
    compareRange(pair, size);
  }
}

}  // namespace qv
