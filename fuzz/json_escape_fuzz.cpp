// jsonEscape's output, put between quotes, must be one JSON string: a strict
// decoder (RFC 8259 grammar, escapes and surrogate pairs checked) reads it
// back to exactly the input bytes. Bytes from 0x80 pass through unchecked by
// design, so the decoder insists on well-formed UTF-8 only when the input
// was well-formed UTF-8. The same bytes, read as UTF-16, also check toUtf8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"
#include "frame/event_text.h"
#include "utf8_reference.h"

namespace {

std::optional<uint32_t> hex4(std::string_view s, size_t i) {
  if (i + 4 > s.size()) return std::nullopt;
  uint32_t v = 0;
  for (size_t k = i; k < i + 4; ++k) {
    const char c = s[k];
    v <<= 4;
    if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
    else return std::nullopt;
  }
  return v;
}

// Decodes one complete JSON string token (quotes included). Raw bytes from
// 0x80 must form well-formed UTF-8 when `strictUtf8`, else pass as they are.
std::optional<std::string> decodeJsonString(std::string_view s, bool strictUtf8) {
  if (s.size() < 2 || s.front() != '"') return std::nullopt;
  std::string out;
  size_t i = 1;
  while (true) {
    if (i >= s.size()) return std::nullopt;  // unterminated
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '"') break;
    if (c < 0x20) return std::nullopt;  // control characters must be escaped
    if (c >= 0x80) {
      const size_t n = strictUtf8 ? utf8SequenceLength(s, i) : 1;
      if (n == 0) return std::nullopt;
      out.append(s.substr(i, n));
      i += n;
      continue;
    }
    if (c != '\\') {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    if (++i >= s.size()) return std::nullopt;
    switch (s[i++]) {
      case '"': out.push_back('"'); break;
      case '\\': out.push_back('\\'); break;
      case '/': out.push_back('/'); break;
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'u': {
        std::optional<uint32_t> unit = hex4(s, i);
        if (!unit) return std::nullopt;
        i += 4;
        std::u16string units(1, static_cast<char16_t>(*unit));
        if (*unit >= 0xDC00 && *unit <= 0xDFFF) return std::nullopt;
        if (*unit >= 0xD800 && *unit <= 0xDBFF) {
          if (i + 2 > s.size() || s[i] != '\\' || s[i + 1] != 'u') return std::nullopt;
          std::optional<uint32_t> low = hex4(s, i + 2);
          if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
          i += 6;
          units.push_back(static_cast<char16_t>(*low));
        }
        // The pair is well formed here, so the conversion cannot fail.
        out += qv::toUtf8(units);
        break;
      }
      default:
        return std::nullopt;
    }
  }
  if (i + 1 != s.size()) return std::nullopt;  // trailing bytes after the string
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string token = "\"" + qv::jsonEscape(input) + "\"";
  const bool validUtf8 = isValidUtf8(input);
  const std::optional<std::string> decoded = decodeJsonString(token, validUtf8);
  if (!decoded || *decoded != input) std::abort();

  // The same bytes read as UTF-16 units: toUtf8 gives well-formed UTF-8 that
  // decodes back to them, or "" exactly when a surrogate is unpaired.
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  bool paired = true;
  for (size_t i = 0; i < units.size(); ++i) {
    const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
    const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      paired = false;
    }
  }
  const std::string utf8 = qv::toUtf8(units);
  std::u16string back;
  if (!paired ? !utf8.empty()
              : !isValidUtf8(utf8) || !qv::utf8ToUtf16Strict(utf8, back) || back != units) {
    std::abort();
  }
  return 0;
}
