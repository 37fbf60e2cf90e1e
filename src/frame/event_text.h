// Text conversions every event relies on.
#ifndef QV_FRAME_EVENT_TEXT_H_
#define QV_FRAME_EVENT_TEXT_H_

#include <string>
#include <string_view>

namespace qv {

// UTF-16 to UTF-8, returned or appended to `out`. Text that is not valid
// UTF-16 (an unpaired surrogate) gives the empty text, and the append form
// adds nothing: an event then carries "" in that place.
std::string toUtf8(std::u16string_view text);
void appendUtf8(std::string& out, std::u16string_view text);

// The body of a JSON string for `text`, escaped byte by byte, returned or
// appended to `out`. Bytes from 0x80 up pass through unchecked.
std::string jsonEscape(std::string_view text);
void appendJsonEscaped(std::string& out, std::string_view text);

// Appends the unsigned decimal form of `value`.
void appendNumber(std::string& out, uint64_t value);

}  // namespace qv

#endif  // QV_FRAME_EVENT_TEXT_H_
