#include "frontend/status_line.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace qv::tools {
namespace {

// A rate is a double from a counter and a clock; converting one at or past
// 2^64, or a negative one, to an integer would be undefined behaviour.
uint64_t wholeBytes(double rate) {
  if (!(rate > 0)) return 0;
  return rate < 18446744073709549568.0 ? static_cast<uint64_t>(rate) : UINT64_MAX;
}

constexpr double kRateWindowSeconds = 3.0;
constexpr size_t kShortestUsefulFile = 10;
constexpr double kNoEstimateSeconds = 100 * 3600;

const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};

// The unit `bytes` is best shown in, and its divisor.
std::pair<int, double> unitOf(uint64_t bytes) {
  int unit = 0;
  double divisor = 1;
  while (unit < 5 && static_cast<double>(bytes) >= divisor * 1024) {
    divisor *= 1024;
    ++unit;
  }
  return {unit, divisor};
}

std::string scaled(uint64_t bytes, std::pair<int, double> unit) {
  char text[32];
  if (unit.first == 0) {
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(bytes));
  } else {
    // Three digits say enough: a decimal only below 100 keeps the line short.
    const double value = static_cast<double>(bytes) / unit.second;
    std::snprintf(text, sizeof text, value < 99.95 ? "%.1f" : "%.0f", value);
  }
  return text;
}

// "1.2/2.6 GiB": both in the unit of the total, so the two line up.
std::string bytesOfTotal(uint64_t done, uint64_t total) {
  const auto unit = unitOf(total);
  return scaled(done, unit) + "/" + scaled(total, unit) + " " + kUnits[unit.first];
}

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// One character of UTF-8 text: its bytes and the columns a terminal gives it.
struct Glyph {
  size_t bytes;
  size_t columns;
};

// Two columns for the East Asian wide and fullwidth blocks and the emoji
// that terminals draw wide, one otherwise (combining marks are rare in file
// names and count as one).
size_t columnsOf(uint32_t cp) {
  static constexpr std::pair<uint32_t, uint32_t> kWide[] = {
      {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
      {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
      {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
      {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};
  for (const auto& [first, last] : kWide) {
    if (cp >= first && cp <= last) return 2;
  }
  return 1;
}

std::vector<Glyph> glyphsOf(std::string_view text) {
  std::vector<Glyph> glyphs;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    uint32_t cp = lead;
    size_t n = 1;
    if (lead >= 0xC0) {
      const size_t trail = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
      cp = lead & (0x3Fu >> trail);
      for (; n <= trail && i + n < text.size() && isContinuation(text[i + n]); ++n) {
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + n]) & 0x3Fu);
      }
    }
    glyphs.push_back({n, columnsOf(cp)});
    i += n;
  }
  return glyphs;
}

}  // namespace

void RateMeter::add(double seconds, uint64_t bytes) {
  samples_.emplace_back(seconds, bytes);
  while (samples_.size() > 2 && seconds - samples_[1].first >= kRateWindowSeconds) {
    samples_.pop_front();
  }
}

double RateMeter::bytesPerSecond() const {
  if (samples_.size() < 2) return 0;
  const auto& [t0, b0] = samples_.front();
  const auto& [t1, b1] = samples_.back();
  if (t1 <= t0 || b1 < b0) return 0;
  return static_cast<double>(b1 - b0) / (t1 - t0);
}

std::string humanBytes(uint64_t bytes) {
  const auto unit = unitOf(bytes);
  return scaled(bytes, unit) + " " + kUnits[unit.first];
}

std::string humanDuration(double seconds) {
  const auto total = static_cast<unsigned long long>(std::max(0.0, seconds) + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", total / 60, total % 60);
  }
  return text;
}

size_t displayColumns(std::string_view text) {
  size_t columns = 0;
  for (const Glyph& g : glyphsOf(text)) columns += g.columns;
  return columns;
}

std::string elideMiddle(std::string_view text, size_t columns) {
  const size_t have = displayColumns(text);
  if (have <= columns) return std::string(text);
  if (columns <= 3) return std::string(columns, '.');
  // Most of the room goes to the end, where the file name is; a short
  // budget keeps only the end. A wide character that would straddle the
  // cut is left out and its column filled with one more dot.
  const size_t head = columns >= 24 ? (columns - 3) / 3 : 0;
  const size_t tail = columns - 3 - head;
  const std::vector<Glyph> glyphs = glyphsOf(text);
  size_t headBytes = 0, headColumns = 0;
  for (size_t i = 0; i < glyphs.size() && headColumns + glyphs[i].columns <= head; ++i) {
    headBytes += glyphs[i].bytes;
    headColumns += glyphs[i].columns;
  }
  size_t tailBytes = 0, tailColumns = 0;
  for (size_t i = glyphs.size(); i > 0 && tailColumns + glyphs[i - 1].columns <= tail; --i) {
    tailBytes += glyphs[i - 1].bytes;
    tailColumns += glyphs[i - 1].columns;
  }
  return std::string(text.substr(0, headBytes)) +
         std::string(columns - headColumns - tailColumns, '.') +
         std::string(text.substr(text.size() - tailBytes));
}

std::string formatStatusLine(const ProgressState& s, double bytesPerSecond, size_t width) {
  const std::string& phase = s.phase;
  std::string core;
  std::string bar;
  if (s.phase == "scan") {
    core = phase + " " + std::to_string(s.totalFiles) + " files, " + humanBytes(s.totalBytes) +
           " found";
    if (s.paused) core += " Paused";
  } else {
    const uint64_t done = std::min(s.processedBytes, s.totalBytes);
    const int percent =
        s.totalBytes == 0 ? 100 : static_cast<int>(done * 100 / s.totalBytes);
    char head[16];
    std::snprintf(head, sizeof head, "%3d%%", percent);
    const size_t barWidth = width >= 120 || width == 0 ? 20 : 6;
    const size_t filled = barWidth * static_cast<size_t>(percent) / 100;
    // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on a "[" + ... chain.
    bar.assign(1, '[').append(filled, '#').append(barWidth - filled, '-').append("] ");
    std::string tail = bytesOfTotal(done, s.totalBytes) + " " +
                       std::to_string(s.completedFiles) + "/" + std::to_string(s.totalFiles) +
                       " files ";
    if (s.paused) {
      tail += "Paused";
    } else {
      tail += humanBytes(wholeBytes(bytesPerSecond)) + "/s ETA ";
      const double eta = bytesPerSecond > 0
                             ? static_cast<double>(s.totalBytes - done) / bytesPerSecond
                             : kNoEstimateSeconds;
      // A stall makes the estimate meaningless rather than long.
      tail += eta < kNoEstimateSeconds ? humanDuration(eta) : "-:--";
    }
    core = phase + " " + head + " ";
    // The bar is the first thing to go on a narrow terminal.
    if (width != 0 && displayColumns(core + bar + tail) > width - 1) bar.clear();
    core += bar + tail;
  }
  if (width == 0) return s.currentFile.empty() ? core : core + " " + s.currentFile;
  const size_t limit = width - 1;
  if (displayColumns(core) >= limit) return elideMiddle(core, limit);
  const size_t room = limit - displayColumns(core) - 1;
  if (s.currentFile.empty() || room < kShortestUsefulFile) return core;
  return core + " " + elideMiddle(s.currentFile, room);
}

namespace {

constexpr size_t kSummaryErrors = 10;

std::string verificationLine(const VerifyTotals& v, bool verifyOnly) {
  std::string line = "Verification: " + v.method + ", " + std::to_string(v.checkedFiles) +
                     " files checked, " + std::to_string(v.failedFiles) + " failed";
  // A verify-only job only checks; a copy job copies a mismatch again.
  if (verifyOnly) return line + "\n";
  if (v.reCopies == 0) return line + ", no re-copies\n";
  return line + " after up to " + std::to_string(v.reCopies) +
         (v.reCopies == 1 ? " re-copy" : " re-copies") + " each\n";
}

}  // namespace

std::string formatSummary(const JobTotals& t, bool verifyOnly, double elapsedSeconds) {
  std::string out;
  if (t.cancelled) out += "Cancelled.\n";
  out += "Files: " + std::to_string(t.completedFiles) + (verifyOnly ? " verified, " : " copied, ") +
         std::to_string(t.skippedFiles) + " skipped, " + std::to_string(t.failedFiles) +
         " failed (of " + std::to_string(t.totalFiles) + ")\n";
  // A verify-only job copies nothing: its work is the bytes it checked.
  const uint64_t moved = verifyOnly ? t.totalBytes : t.copiedBytes;
  if (verifyOnly) {
    out += "Bytes: " + std::to_string(moved) + " checked (" + humanBytes(moved) + ")\n";
  } else {
    out += "Bytes: " + std::to_string(moved) + " of " + std::to_string(t.totalBytes) + " (" +
           humanBytes(moved) + ")\n";
  }
  const double seconds = std::max(elapsedSeconds, 0.001);
  char time[64];
  std::snprintf(time, sizeof time, "Time: %.1f s, average ", elapsedSeconds);
  out += time + humanBytes(static_cast<uint64_t>(static_cast<double>(moved) / seconds)) + "/s\n";
  if (!t.verification.method.empty()) out += verificationLine(t.verification, verifyOnly);
  if (!t.errors.empty()) {
    out += "Errors:\n";
    const size_t shown = std::min(t.errors.size(), kSummaryErrors);
    for (size_t i = 0; i < shown; ++i) out += "  " + t.errors[i] + "\n";
    if (shown < t.errors.size()) {
      out += "  ... and " + std::to_string(t.errors.size() - shown) + " more; --json shows all\n";
    }
  }
  return out;
}

}  // namespace qv::tools
