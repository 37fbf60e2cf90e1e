#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_platform.h"

namespace qv::win32 {

namespace {

// The SHA-256 provider of one thread: opened by the thread's first hash,
// closed when the thread ends. Threads never share it, so no lock.
struct Sha256Provider {
  UniqueAlgorithmHandle algorithm;
  ULONG objectLength = 0;
};

thread_local Sha256Provider threadProvider;

// Opens the calling thread's provider if it has none yet. A failed attempt
// leaves nothing open, so the thread's next hash tries again.
Sha256Failure openThreadProvider() {
  if (threadProvider.algorithm) return Sha256Failure::None;
  BCRYPT_ALG_HANDLE handle = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM,
                                                  nullptr, 0))) {
    return Sha256Failure::OpenProvider;
  }
  UniqueAlgorithmHandle algorithm(handle);
  ULONG length = 0;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptGetProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH,
                                        reinterpret_cast<PUCHAR>(&length),
                                        sizeof(length), &written, 0))) {
    return Sha256Failure::QueryObjectLength;
  }
  threadProvider.algorithm = std::move(algorithm);
  threadProvider.objectLength = length;
  return Sha256Failure::None;
}

class CngSha256 final : public Sha256 {
 public:
  // The hash object must outlive the hash handle that lives in it, so it is
  // declared first and destroyed last.
  CngSha256(std::vector<UCHAR> object, UniqueHashHandle hash)
      : object_(std::move(object)), hash_(std::move(hash)) {}

  bool update(const void* data, size_t size) override {
    if (!hash_) return false;
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    // BCryptHashData takes a ULONG length.
    while (size > 0) {
      ULONG chunk = static_cast<ULONG>(std::min<size_t>(size, 0xFFFFFFFFu));
      if (!BCRYPT_SUCCESS(BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes),
                                         chunk, 0))) {
        return false;
      }
      bytes += chunk;
      size -= chunk;
    }
    return true;
  }

  bool finish(uint8_t digest[32]) override {
    if (!hash_) return false;
    std::fill(digest, digest + 32, uint8_t{0});
    bool ok = BCRYPT_SUCCESS(BCryptFinishHash(hash_.get(), digest, 32, 0));
    // A finished hash takes no more data.
    hash_.reset();
    return ok;
  }

 private:
  std::vector<UCHAR> object_;
  UniqueHashHandle hash_;
};

}  // namespace

std::unique_ptr<Sha256> Win32Platform::createSha256(Sha256Failure& failure) {
  failure = openThreadProvider();
  if (failure != Sha256Failure::None) return nullptr;
  std::vector<UCHAR> object(threadProvider.objectLength);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(threadProvider.algorithm.get(), &hash,
                                       object.data(),
                                       static_cast<ULONG>(object.size()), nullptr,
                                       0, 0))) {
    failure = Sha256Failure::CreateHash;
    return nullptr;
  }
  // The handle points into the object's storage, which a vector move keeps.
  UniqueHashHandle owner(hash);
  return std::make_unique<CngSha256>(std::move(object), std::move(owner));
}

}  // namespace qv::win32
