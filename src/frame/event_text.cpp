#include "frame/event_text.h"

#include <cstdint>

namespace qv {

void appendUtf8(std::string& out, std::u16string_view text) {
  const size_t start = out.size();
  out.reserve(start + text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t unit = text[i];
    uint32_t cp = unit;
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      const uint32_t low = i + 1 < text.size() ? text[i + 1] : 0;
      if (unit > 0xDBFF || low < 0xDC00 || low > 0xDFFF) {  // an unpaired surrogate
        out.resize(start);
        return;
      }
      cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  appendUtf8(out, text);
  return out;
}

void appendJsonEscaped(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out.reserve(out.size() + text.size() + 8);
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case 0x22: out += "\\\""; break;
      case 0x5C: out += "\\\\"; break;
      case 0x08: out += "\\b"; break;
      case 0x0C: out += "\\f"; break;
      case 0x0A: out += "\\n"; break;
      case 0x0D: out += "\\r"; break;
      case 0x09: out += "\\t"; break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out.push_back(kHex[byte >> 4]);
          out.push_back(kHex[byte & 0xF]);
        } else {
          out.push_back(c);
        }
    }
  }
}

std::string jsonEscape(std::string_view text) {
  std::string out;
  appendJsonEscaped(out, text);
  return out;
}

void appendNumber(std::string& out, uint64_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

}  // namespace qv
