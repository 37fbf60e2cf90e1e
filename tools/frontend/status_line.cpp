#include "frontend/status_line.h"

#include <algorithm>
#include <cstdio>

namespace qv::tools {
namespace {

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

// Byte offset where the column `column` starts.
size_t offsetOfColumn(std::string_view text, size_t column) {
  size_t i = 0;
  for (size_t seen = 0; i < text.size(); ++i) {
    if (isContinuation(text[i])) continue;
    if (seen++ == column) break;
  }
  return i;
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
  return static_cast<size_t>(std::count_if(text.begin(), text.end(),
                                           [](char c) { return !isContinuation(c); }));
}

std::string elideMiddle(std::string_view text, size_t columns) {
  const size_t have = displayColumns(text);
  if (have <= columns) return std::string(text);
  if (columns <= 3) return std::string(columns, '.');
  // Most of the room goes to the end, where the file name is; a short
  // budget keeps only the end.
  const size_t head = columns >= 24 ? (columns - 3) / 3 : 0;
  const size_t tail = columns - 3 - head;
  return std::string(text.substr(0, offsetOfColumn(text, head))) + "..." +
         std::string(text.substr(offsetOfColumn(text, have - tail)));
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
      tail += humanBytes(static_cast<uint64_t>(bytesPerSecond)) + "/s ETA ";
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
  if (!t.errors.empty()) {
    out += "Errors:\n";
    for (const std::string& e : t.errors) out += "  " + e + "\n";
  }
  return out;
}

}  // namespace qv::tools
