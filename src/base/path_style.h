// The path grammar a system uses, below the platform (which names its own)
// and the path algebra (which is written once over both).
//
// Windows style: `\` and `/` separate and `\` is written wherever a separator
// is inserted. POSIX style: only `/` separates (a backslash is an ordinary
// character of a name) and `/` is inserted.

#ifndef QV_BASE_PATH_STYLE_H_
#define QV_BASE_PATH_STYLE_H_

#include <string_view>

namespace qv {

enum class PathStyle { Windows, Posix };

inline bool isSeparator(PathStyle style, char16_t c) {
  return c == u'/' || (style == PathStyle::Windows && c == u'\\');
}

inline char16_t preferredSeparator(PathStyle style) {
  return style == PathStyle::Windows ? u'\\' : u'/';
}

// True when `text` begins with an ASCII letter followed by `:` (`C:`).
inline bool startsWithDriveDesignator(std::u16string_view text) {
  return text.size() >= 2 && text[1] == u':' &&
         ((text[0] >= u'A' && text[0] <= u'Z') || (text[0] >= u'a' && text[0] <= u'z'));
}

}  // namespace qv

#endif  // QV_BASE_PATH_STYLE_H_
