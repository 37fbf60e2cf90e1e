#include "platform/posix/posix_text.h"

#include <cerrno>
#include <cstdint>

#include "base/text.h"

namespace qv::posix {

SysError toNativePath(std::u16string_view path, std::string& out) {
  // Paths are mostly ASCII: their leading ASCII run is copied unit for byte
  // without the general loop's checks, which every system call pays for.
  const size_t n = path.size();
  out.resize(n);
  size_t i = 0;
  for (; i < n && path[i] != 0 && path[i] < 0x80; ++i) out[i] = static_cast<char>(path[i]);
  if (i == n) return 0;
  out.resize(i);
  for (; i < n; ++i) {
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
    const int length = decodeUtf8Sequence(p, end, cp);
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
