// Throughput of the worker's CRC-32 against zlib's on a buffer far larger than
// the caches, so the figures are what a copy sees. Plain main(): run it and read
// the lines it prints.

#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "verify/crc32.h"
#include "verify/crc32_impl.h"

namespace {

constexpr size_t kSize = size_t{256} << 20;
constexpr int kRuns = 5;

struct Result {
  double gbPerSecond;
  uint32_t crc;
};

template <typename F>
Result best(const std::vector<unsigned char>& buf, F crcOf) {
  double bestSeconds = 1e30;
  uint32_t crc = 0;
  for (int i = 0; i < kRuns; ++i) {
    auto start = std::chrono::steady_clock::now();
    crc = crcOf(buf.data(), buf.size());
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < bestSeconds) bestSeconds = took.count();
  }
  return {static_cast<double>(buf.size()) / bestSeconds / 1e9, crc};
}

void print(const char* label, const Result& r) { std::printf("%-22s %7.2f GB/s  crc %08x\n", label, r.gbPerSecond, r.crc); }

}  // namespace

int main() {
  std::vector<unsigned char> buf(kSize);
  uint64_t state = 0x9E3779B97F4A7C15ull;  // xorshift: fast, and touches every page before timing
  for (auto& b : buf) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    b = static_cast<unsigned char>(state);
  }

  Result zlib = best(buf, [](const unsigned char* p, size_t n) { return static_cast<uint32_t>(crc32_z(0, p, n)); });
  Result worker = best(buf, [](const unsigned char* p, size_t n) { return qv::crc32Update(0, p, n); });

  std::printf("buffer %zu MiB, best of %d runs, GB = 1e9 bytes\n", kSize >> 20, kRuns);
  print("zlib crc32", zlib);
  char label[64];
  std::snprintf(label, sizeof label, "worker (%s)", qv::crc32Implementation());
  print(label, worker);
  std::printf("ratio worker / zlib   %7.2fx\n", worker.gbPerSecond / zlib.gbPerSecond);

  std::printf("each routine:\n");
  print("  slice-by-16", best(buf, [](const unsigned char* p, size_t n) { return qv::detail::crc32Slice(0, p, n); }));
  if (qv::detail::cpuHasPclmul())
    print("  pclmulqdq", best(buf, [](const unsigned char* p, size_t n) { return qv::detail::crc32Pclmul(0, p, n); }));
  if (qv::detail::cpuHasVpclmul())
    print("  vpclmulqdq", best(buf, [](const unsigned char* p, size_t n) { return qv::detail::crc32Vpclmul(0, p, n); }));

  if (worker.crc != zlib.crc) {
    std::printf("MISMATCH: worker and zlib disagree\n");
    return 1;
  }
  return 0;
}
