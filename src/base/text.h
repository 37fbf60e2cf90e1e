// UTF-8 decoding shared by every layer of the engine, the platform included.

#ifndef QV_BASE_TEXT_H_
#define QV_BASE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// Decodes UTF-8 into UTF-16, refusing anything that is not well-formed UTF-8:
// stray continuation bytes, truncated sequences, overlong forms, encoded
// surrogates (U+D800 to U+DFFF) and code points above U+10FFFF. U+0000, a
// leading byte-order mark and noncharacters are ordinary characters and are
// kept. Returns true with `out` replaced by the decoded text, or false with
// `out` empty.
bool utf8ToUtf16Strict(std::string_view in, std::u16string& out);

// The length (2 to 4) of the well-formed UTF-8 sequence that starts with the
// non-ASCII byte at `p`, with its code point in `cp`; 0 when the bytes there
// are not one (a stray continuation byte, a truncated, overlong or surrogate
// form, or a value above U+10FFFF).
int decodeUtf8Sequence(const unsigned char* p, const unsigned char* end, uint32_t& cp);

}  // namespace qv

#endif  // QV_BASE_TEXT_H_
