// The two text codecs against an independent reference:
// - utf8ToUtf16Strict accepts exactly the well-formed UTF-8 inputs, and what
//   it accepts encodes back to the same bytes; a refusal leaves `out` empty.
// - bytes from the file system go up with fromNativeName and come back down
//   with toNativePath unchanged, whatever they are; well-formed UTF-8 goes up
//   as the strict decoder reads it.
// - the input read as UTF-16 goes down exactly when it holds no U+0000 and
//   no lone surrogate outside U+DC80..U+DCFF, and text without such escapes
//   comes back up unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/text.h"
#include "platform/posix/posix_text.h"
#include "utf8_reference.h"

namespace {

// UTF-16 to UTF-8 for text without lone surrogates.
std::string encodeUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) abort();
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      abort();
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// True when a name can hold `text`: no U+0000, and every surrogate is either
// half of a pair or an escaped byte (U+DC80..U+DCFF).
bool nameCanHold(const std::u16string& text, bool& hasEscapes) {
  hasEscapes = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u == 0) return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return false;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) {
      if (u < 0xDC80 || u > 0xDCFF) return false;
      hasEscapes = true;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::u16string decoded = u"stale";
  const bool accepted = qv::utf8ToUtf16Strict(bytes, decoded);
  if (accepted != isValidUtf8(bytes)) abort();
  if (accepted ? encodeUtf8(decoded) != bytes : !decoded.empty()) abort();

  // Names from the disk never hold U+0000, the one byte no name has.
  if (bytes.find('\0') == std::string_view::npos) {
    const std::u16string up = qv::posix::fromNativeName(bytes);
    std::string down = "stale";
    if (qv::posix::toNativePath(up, down) != 0 || down != bytes) abort();
    if (accepted && up != decoded) abort();
  }

  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  bool hasEscapes = false;
  const bool holdable = nameCanHold(text, hasEscapes);
  std::string down = "stale";
  const qv::SysError err = qv::posix::toNativePath(text, down);
  if ((err == 0) != holdable || (err != 0 && !down.empty())) abort();
  if (holdable && !hasEscapes && qv::posix::fromNativeName(down) != text) abort();
  return 0;
}
