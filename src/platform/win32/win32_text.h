// UTF-16 paths handed to and taken from the wide API. wchar_t is 16 bits on
// Windows, so the engine's text goes down unchanged.
#ifndef QV_PLATFORM_WIN32_WIN32_TEXT_H_
#define QV_PLATFORM_WIN32_WIN32_TEXT_H_

#include <cstddef>
#include <string>

namespace qv::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t),
              "the wide API must take UTF-16 code units");

// The text as the wide API's argument; lives as long as `text` is unchanged.
// The API reads the units through its own pointer type only.
inline const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Copies `length` units the API returned.
inline std::u16string fromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(text, text + length);
}

}  // namespace qv::win32

#endif  // QV_PLATFORM_WIN32_WIN32_TEXT_H_
