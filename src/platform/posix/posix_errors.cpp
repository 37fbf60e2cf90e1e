#include "platform/posix/posix_errors.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/posix/posix_text.h"

namespace qv::posix {
namespace {

// strerror_r comes in two shapes: the XSI one returns 0 and fills the
// buffer, the GNU one returns the text (which may or may not be the buffer).
// Overloading on the return type picks the right reading for either.
[[maybe_unused]] const char* messageFrom(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* messageFrom(const char* result, const char*) {
  return result;
}

// Whether the C library knows `code` at all, so that an unknown code gets no
// text (the engine then writes the bare number) instead of an "Unknown
// error" sentence the library made up.
bool isKnownCode(int code) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
  return strerrorname_np(code) != nullptr;
#else
  (void)code;
  return true;
#endif
}

}  // namespace

std::u16string errorMessage(SysError code) {
  if (code > static_cast<SysError>(std::numeric_limits<int>::max())) return {};
  const int number = static_cast<int>(code);
  if (!isKnownCode(number)) return {};
  char buffer[256];
  buffer[0] = '\0';
  const char* text = messageFrom(strerror_r(number, buffer, sizeof buffer), buffer);
  if (text == nullptr) return {};
  // The text is in the C library's language; the worker never sets a
  // locale, so it is plain ASCII, and the lossless mapping keeps anything
  // else too.
  return fromNativeName(text);
}

bool isNotFoundFamily(SysError code) {
  return code == ENOENT || code == ENOTDIR || code == ENAMETOOLONG ||
         code == EILSEQ;
}

bool isAlreadyExists(SysError code) { return code == EEXIST; }

bool isAccessDenied(SysError code) { return code == EACCES || code == EPERM; }

}  // namespace qv::posix
