#include "base/text.h"

#include <cstdint>
#include <cstring>

namespace qv {

// The allowed range of the second byte is what excludes overlong forms,
// surrogates and values above U+10FFFF.
int decodeUtf8Sequence(const unsigned char* p, const unsigned char* end, uint32_t& cp) {
  const unsigned lead = *p;
  int trail;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    cp = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    cp = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;  // continuation byte, C0, C1 or F5 to FF
  }
  if (end - p <= trail) return 0;
  for (int k = 1; k <= trail; ++k) {
    const unsigned b = p[k];
    if (b < low || b > high) return 0;
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  return trail + 1;
}

bool utf8ToUtf16Strict(std::string_view in, std::u16string& out) {
  // Each input byte yields at most one UTF-16 unit (four bytes yield two), so
  // the input length bounds the output and the loop never grows the string.
  out.assign(in.size(), u'\0');
  char16_t* dst = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const unsigned char* const end = p + in.size();

  auto fail = [&out] {
    out.clear();
    return false;
  };

  while (p != end) {
    // Paths are mostly ASCII: pass eight such bytes at a time.
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if ((word & 0x8080808080808080ull) != 0) break;
      for (int i = 0; i < 8; ++i) *dst++ = static_cast<char16_t>(p[i]);
      p += 8;
    }
    if (p == end) break;

    if (*p < 0x80) {
      *dst++ = static_cast<char16_t>(*p++);
      continue;
    }
    uint32_t cp = 0;
    const int length = decodeUtf8Sequence(p, end, cp);
    if (length == 0) return fail();
    p += length;

    if (cp >= 0x10000) {
      cp -= 0x10000;
      *dst++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *dst++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *dst++ = static_cast<char16_t>(cp);
    }
  }

  out.resize(static_cast<size_t>(dst - out.data()));
  return true;
}

}  // namespace qv
