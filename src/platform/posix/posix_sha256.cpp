// SHA-256 through OpenSSL's libcrypto, which uses the CPU's SHA
// instructions where it has them. One digest context per computation, so
// threads share nothing.
#include <openssl/evp.h>

#include "platform/posix/posix_platform.h"

namespace qv::posix {
namespace {

struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using UniqueContext = std::unique_ptr<EVP_MD_CTX, ContextDeleter>;

class OpenSslSha256 final : public Sha256 {
 public:
  explicit OpenSslSha256(UniqueContext context) : context_(std::move(context)) {}

  bool update(const void* data, size_t size) override {
    return !finished_ && EVP_DigestUpdate(context_.get(), data, size) == 1;
  }

  bool finish(uint8_t digest[32]) override {
    if (finished_) return false;
    finished_ = true;
    unsigned int length = 0;
    return EVP_DigestFinal_ex(context_.get(), digest, &length) == 1 && length == 32;
  }

 private:
  UniqueContext context_;
  bool finished_ = false;
};

}  // namespace

// The set-up steps line up with the Windows ones: finding the algorithm
// (opening the provider), making the context (the hash object) and
// starting the digest (creating the hash).
std::unique_ptr<Sha256> PosixPlatform::createSha256(Sha256Failure& failure) {
  const EVP_MD* algorithm = EVP_sha256();
  if (algorithm == nullptr) {
    failure = Sha256Failure::OpenProvider;
    return nullptr;
  }
  UniqueContext context(EVP_MD_CTX_new());
  if (!context) {
    failure = Sha256Failure::QueryObjectLength;
    return nullptr;
  }
  if (EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1) {
    failure = Sha256Failure::CreateHash;
    return nullptr;
  }
  failure = Sha256Failure::None;
  return std::make_unique<OpenSslSha256>(std::move(context));
}

}  // namespace qv::posix
