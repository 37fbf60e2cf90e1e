// An independent check of UTF-8 well-formedness for the fuzz targets, written
// from the definition rather than shared with the codec it checks.
#ifndef QV_FUZZ_UTF8_REFERENCE_H_
#define QV_FUZZ_UTF8_REFERENCE_H_

#include <cstddef>
#include <string_view>

// Length of the well-formed UTF-8 sequence at `s[i]`, or 0.
inline size_t utf8SequenceLength(std::string_view s, size_t i) {
  const auto at = [&s](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = at(i);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no encoded surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  }
  return n;
}

inline bool isValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = utf8SequenceLength(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

#endif  // QV_FUZZ_UTF8_REFERENCE_H_
