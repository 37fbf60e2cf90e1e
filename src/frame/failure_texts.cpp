#include "frame/failure_texts.h"

#include "frame/event_text.h"

namespace qv {

std::u16string trimTrailingLineBreaks(std::u16string text) {
  while (!text.empty() &&
         (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
    text.pop_back();
  }
  return text;
}

std::string systemErrorText(Platform& platform, SysError code) {
  std::u16string message = platform.systemErrorMessage(code);
  if (message.empty()) {
    std::string fallback = platform.errorNumberLabel();
    appendNumber(fallback, code);
    return fallback;
  }
  return toUtf8(trimTrailingLineBreaks(std::move(message)));
}

void ErrorList::recordFailure(std::u16string_view source,
                              std::u16string_view destination,
                              std::string_view message) {
  std::string line = toUtf8(source);
  line += " -> ";
  line += toUtf8(destination);
  line += ": ";
  line += message;
  append(std::move(line));
}

void ErrorList::recordWarning(std::u16string_view source,
                              std::u16string_view destination,
                              std::string_view message) {
  std::string line = "Warning: ";
  line += toUtf8(source);
  line += " -> ";
  line += toUtf8(destination);
  line += ": ";
  line += message;
  append(std::move(line));
}

void ErrorList::append(std::string line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(std::move(line));
}

std::string ErrorList::escapedForEvent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i != 0) out += "\\n";
    out += jsonEscape(lines_[i]);
  }
  return out;
}

}  // namespace qv
