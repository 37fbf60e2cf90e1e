// What one verification thread brings to every check it makes: the system,
// the job's cancel flag and pause gate, and read buffers it reuses from file
// to file.
#ifndef QV_VERIFY_VERIFIER_H_
#define QV_VERIFY_VERIFIER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "frame/control_state.h"
#include "platform/platform.h"

namespace qv {

// Two read buffers that only grow. A check asks for the length it reads
// with (at most the request's buffer size, or one sampled window), so a
// thread holds no more than its largest read needs, however many files it
// checks; small files never make it touch a full-size buffer.
class VerifyBuffers {
 public:
  // A buffer of at least `size` bytes (at least 1). Contents are unspecified:
  // every check reads into a buffer before it looks at it.
  uint8_t* first(size_t size) { return ensure(first_, firstSize_, size); }
  uint8_t* second(size_t size) { return ensure(second_, secondSize_, size); }

 private:
  static uint8_t* ensure(std::unique_ptr<uint8_t[]>& buffer, size_t& held, size_t size);

  std::unique_ptr<uint8_t[]> first_;
  size_t firstSize_ = 0;
  std::unique_ptr<uint8_t[]> second_;
  size_t secondSize_ = 0;
};

// One per verification thread, never shared between threads.
struct Verifier {
  Verifier(Platform& p, ControlState& c) : platform(p), control(c) {}

  Platform& platform;
  ControlState& control;
  VerifyBuffers buffers;
};

// Every check failure is raised as this exception, carrying one fixed
// sentence (a system error text follows the sentences that end in ": ").
// The job's cancel surfaces as kCancelledMessage.
class VerificationFailure : public std::runtime_error {
 public:
  explicit VerificationFailure(const std::string& message) : std::runtime_error(message) {}
};

inline constexpr char kCancelledMessage[] = "Cancelled.";

// The steps every reading check shares, each raising its own failure.

// Opens a file for reading from start to end ("Unable to open file for
// verification: " + the system's text).
std::unique_ptr<ReadableFile> openForVerification(Verifier& verifier,
                                                  const std::u16string& path);
// One read of up to `size` bytes; returns the count, 0 at the end
// ("Verification read failed: " + the system's text).
size_t readChunk(Verifier& verifier, ReadableFile& file, uint8_t* buffer, size_t size);
// Raises "Cancelled." when the job has been cancelled.
void throwIfCancelled(const Verifier& verifier);

}  // namespace qv

#endif  // QV_VERIFY_VERIFIER_H_
