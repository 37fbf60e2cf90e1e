// Owners of the system handles the Windows platform holds. Each closes what
// it holds when destroyed or assigned over, so no path out of a function can
// leak a handle.
#ifndef QV_PLATFORM_WIN32_WIN32_HANDLES_H_
#define QV_PLATFORM_WIN32_WIN32_HANDLES_H_

#include <windows.h>
#include <bcrypt.h>

#include "platform/platform.h"

namespace qv::win32 {

// Owns one value of a handle kind described by Traits: `Value`, `empty()`,
// `isValid(v)` and `close(v)` (returning whether the close worked).
template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;

  UniqueResource() = default;
  explicit UniqueResource(Value value) : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Value get() const { return value_; }
  bool valid() const { return Traits::isValid(value_); }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without closing.
  Value release() {
    Value value = value_;
    value_ = Traits::empty();
    return value;
  }

  // Closes what is held (ignoring a failed close) and takes `value`.
  void reset(Value value = Traits::empty()) {
    if (Traits::isValid(value_)) Traits::close(value_);
    value_ = value;
  }

  // Closes what is held and reports the close: 0, or the system's error.
  SysError close() {
    if (!Traits::isValid(value_)) return 0;
    bool ok = Traits::close(release());
    return ok ? 0 : static_cast<SysError>(GetLastError());
  }

 private:
  Value value_ = Traits::empty();
};

// A kernel object handle (file, thread). CreateFileW reports failure as
// INVALID_HANDLE_VALUE and other calls as null: both count as empty.
struct KernelHandleTraits {
  using Value = HANDLE;
  static Value empty() { return INVALID_HANDLE_VALUE; }
  static bool isValid(Value v) { return v != INVALID_HANDLE_VALUE && v != nullptr; }
  static bool close(Value v) { return CloseHandle(v) != FALSE; }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// A FindFirstFileExW search, closed with FindClose (not CloseHandle).
struct FindHandleTraits {
  using Value = HANDLE;
  static Value empty() { return INVALID_HANDLE_VALUE; }
  static bool isValid(Value v) { return v != INVALID_HANDLE_VALUE && v != nullptr; }
  static bool close(Value v) { return FindClose(v) != FALSE; }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

struct AlgorithmHandleTraits {
  using Value = BCRYPT_ALG_HANDLE;
  static Value empty() { return nullptr; }
  static bool isValid(Value v) { return v != nullptr; }
  static bool close(Value v) { return BCRYPT_SUCCESS(BCryptCloseAlgorithmProvider(v, 0)); }
};
using UniqueAlgorithmHandle = UniqueResource<AlgorithmHandleTraits>;

struct HashHandleTraits {
  using Value = BCRYPT_HASH_HANDLE;
  static Value empty() { return nullptr; }
  static bool isValid(Value v) { return v != nullptr; }
  static bool close(Value v) { return BCRYPT_SUCCESS(BCryptDestroyHash(v)); }
};
using UniqueHashHandle = UniqueResource<HashHandleTraits>;

}  // namespace qv::win32

#endif  // QV_PLATFORM_WIN32_WIN32_HANDLES_H_
