// Throughput of the worker's CRC-32 against zlib's. The main figure uses a
// buffer far larger than the caches, so it is what a copy sees; a second one
// repeats a buffer that stays in cache, to show how much of the first is the
// memory's limit rather than the routine's. A plain program: run it and read
// what it prints. Runs of the two contenders alternate, so a busy machine
// slows both alike, and the best run of each counts. The large buffer asks for
// transparent huge pages: with 4 KiB pages a memory-bound routine spends part
// of its time on page-table walks that a compute-bound one hides, and the
// worker's own buffers are small enough to stay in cache anyway.

#include <sys/mman.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "verify/crc32.h"
#include "verify/crc32_impl.h"

namespace {

using Routine = uint32_t (*)(uint32_t, const void*, size_t);

uint32_t zlibCrc(uint32_t crc, const void* data, size_t size) {
  return static_cast<uint32_t>(crc32_z(crc, static_cast<const unsigned char*>(data), size));
}

struct Contender {
  const char* name;
  Routine routine;
  double bestSeconds = 1e30;
  uint32_t crc = 0;
};

// Each run checksums `passes` times over buf, chaining, so small buffers give
// measurable times.
void race(std::vector<Contender>& contenders, std::span<const unsigned char> buf, int passes,
          int runs) {
  for (int run = 0; run < runs; ++run) {
    for (Contender& c : contenders) {
      auto start = std::chrono::steady_clock::now();
      uint32_t crc = 0;
      for (int i = 0; i < passes; ++i) crc = c.routine(crc, buf.data(), buf.size());
      std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (took.count() < c.bestSeconds) c.bestSeconds = took.count();
      c.crc = crc;
    }
  }
}

double gbPerSecond(const Contender& c, size_t bytes) {
  return static_cast<double>(bytes) / c.bestSeconds / 1e9;
}

// Prints every contender; returns false when any disagrees with the first.
bool report(const char* title, const std::vector<Contender>& contenders, size_t bytes) {
  std::printf("%s\n", title);
  bool agree = true;
  for (const Contender& c : contenders) {
    std::printf("  %-24s %7.2f GB/s  %6.2fx zlib  crc %08x\n", c.name, gbPerSecond(c, bytes),
                gbPerSecond(c, bytes) / gbPerSecond(contenders[0], bytes), c.crc);
    agree = agree && c.crc == contenders[0].crc;
  }
  return agree;
}

void fillPseudoRandom(std::span<unsigned char> buf) {
  uint64_t state = 0x9E3779B97F4A7C15ull;  // xorshift: cheap, and touches every page before timing
  for (auto& b : buf) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    b = static_cast<unsigned char>(state);
  }
}

// Falls back to ordinary pages where the kernel refuses the advice.
std::span<unsigned char> hugePageBuffer(size_t size) {
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    std::perror("crc32_bench: mmap");
    std::exit(2);
  }
  madvise(memory, size, MADV_HUGEPAGE);
  return {static_cast<unsigned char*>(memory), size};
}

}  // namespace

int main() {
  std::vector<Contender> contenders{{"zlib crc32", zlibCrc},
                                    {"worker crc32Update", qv::crc32Update},
                                    {"  slice-by-16", qv::detail::crc32Slice}};
  if (qv::detail::cpuHasPclmul()) contenders.push_back({"  pclmulqdq", qv::detail::crc32Pclmul});
  if (qv::detail::cpuHasVpclmul()) contenders.push_back({"  vpclmulqdq", qv::detail::crc32Vpclmul});

  std::printf("worker routine: %s (GB = 1e9 bytes, best of the runs)\n", qv::crc32Implementation());

  const size_t bigSize = size_t{256} << 20;
  const std::span<unsigned char> big = hugePageBuffer(bigSize);
  fillPseudoRandom(big);
  std::vector<Contender> inMemory = contenders;
  race(inMemory, big, 1, 11);
  bool agree = report("256 MiB buffer, 11 runs:", inMemory, bigSize);

  const size_t smallSize = size_t{256} << 10;
  const int passes = 1024;
  std::vector<unsigned char> small(smallSize);
  fillPseudoRandom(small);
  std::vector<Contender> inCache = contenders;
  race(inCache, small, passes, 5);
  agree =
      report("256 KiB buffer in cache, 1024 passes, 5 runs:", inCache, smallSize * passes) && agree;

  if (!agree) {
    std::printf("MISMATCH: the routines disagree\n");
    return 1;
  }
  return 0;
}
