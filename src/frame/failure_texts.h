// How system errors become text, and the job error list.
#ifndef QV_FRAME_FAILURE_TEXTS_H_
#define QV_FRAME_FAILURE_TEXTS_H_

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qv {

// The system's text for `code`, trailing line breaks and blanks removed, in
// UTF-8; the system's label and the decimal code when it has no text.
std::string systemErrorText(Platform& platform, SysError code);

// Trailing carriage returns, line feeds and blanks removed; nothing else.
std::u16string trimTrailingLineBreaks(std::u16string text);

// The job error list: failure and warning lines in the order they happen.
class ErrorList {
 public:
  // source + " -> " + destination + ": " + message.
  void recordFailure(std::u16string_view source, std::u16string_view destination,
                     std::string_view message);
  // "Warning: " + the failure line's form. Changes no counter.
  void recordWarning(std::u16string_view source, std::u16string_view destination,
                     std::string_view message);
  // Every entry JSON-escaped, joined by the two characters \ and n.
  std::string escapedForEvent() const;

 private:
  void append(std::string line);

  mutable std::mutex mutex_;  // guards lines_
  std::vector<std::string> lines_;
};

}  // namespace qv

#endif  // QV_FRAME_FAILURE_TEXTS_H_
