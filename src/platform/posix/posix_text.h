// Lossless mapping between UTF-16 paths and the file system's bytes.
//
// Going up (bytes to UTF-16): valid UTF-8 is decoded; every byte that is not
// part of a well-formed UTF-8 sequence (0x80 to 0xFF) becomes the lone
// surrogate U+DC00 + byte, i.e. U+DC80 to U+DCFF. Well-formed UTF-8 never
// yields a lone surrogate, so the mapping is one-to-one and every name on
// disk has a UTF-16 form.
//
// Going down (UTF-16 to bytes): characters are encoded as UTF-8 and a lone
// U+DC80 to U+DCFF turns back into its byte, so bytes -> UTF-16 -> bytes is
// the identity. Text that no name can hold fails with EILSEQ: any other lone
// surrogate (a high one, or a low one below U+DC80 or above U+DCFF), and
// U+0000, which would end the name early. The reverse trip is not always the
// identity: escaped bytes that happen to form valid UTF-8 (U+DCC3 U+DCA9 goes
// down as C3 A9) come back up as the character they spell (U+00E9). Names
// come from the disk first, so the engine only relies on the first direction.
#ifndef QV_PLATFORM_POSIX_POSIX_TEXT_H_
#define QV_PLATFORM_POSIX_POSIX_TEXT_H_

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qv::posix {

// 0 with `out` holding the bytes, or EILSEQ with `out` empty.
SysError toNativePath(std::u16string_view path, std::string& out);

std::u16string fromNativeName(std::string_view bytes);

}  // namespace qv::posix

namespace qv {

// For the entry point, which gets its arguments as file-system bytes.
inline std::u16string fileSystemToUtf16(std::string_view bytes) {
  return posix::fromNativeName(bytes);
}

}  // namespace qv

#endif  // QV_PLATFORM_POSIX_POSIX_TEXT_H_
