#include "platform/posix/posix_text.h"

#include <cerrno>
#include <cstdint>

namespace qv::posix {

SysError toNativePath(std::u16string_view path, std::string& out) {
  out.clear();
  out.reserve(path.size());
  const size_t n = path.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = path[i];
    if (c != 0 && c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c == 0) {
      out.clear();
      return EILSEQ;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      uint32_t low = i + 1 < n ? path[i + 1] : 0;
      if (low < 0xDC00 || low > 0xDFFF) {
        out.clear();
        return EILSEQ;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      if (c < 0xDC80 || c > 0xDCFF) {
        out.clear();
        return EILSEQ;
      }
      out.push_back(static_cast<char>(c - 0xDC00));
      continue;
    }
    if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return 0;
}

namespace {

// Length of the well-formed UTF-8 sequence at `p` (2 to 4) and its code
// point, or 0 when the bytes there are not one. The allowed range of the
// second byte is what excludes overlong forms, surrogates and values above
// U+10FFFF.
int decodeSequence(const unsigned char* p, const unsigned char* end,
                   uint32_t& cp) {
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
    return 0;
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

}  // namespace

std::u16string fromNativeName(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  while (p != end) {
    if (*p < 0x80) {
      out.push_back(static_cast<char16_t>(*p++));
      continue;
    }
    uint32_t cp = 0;
    const int length = decodeSequence(p, end, cp);
    if (length == 0) {
      out.push_back(static_cast<char16_t>(0xDC00 + *p++));
      continue;
    }
    p += length;
    if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
  }
  return out;
}

}  // namespace qv::posix
