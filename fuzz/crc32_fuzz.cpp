// Every CRC-32 routine the CPU offers against the CRC's bit-at-a-time
// definition, on any bytes at any alignment, split at any point and finished
// by any routine.
//
// Input: byte 0 picks the start offset (low 4 bits), whether to continue a
// running CRC (bit 4), and the routines for the head and the tail (bits 5-6
// and 7 plus byte 1's low bit); bytes 1-2 pick the cut; the rest is the data,
// placed flush against the end of its allocation so that a read past the
// end shows up under AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "verify/crc32.h"
#include "verify/crc32_impl.h"

namespace {

struct Routine {
  const char* name;
  uint32_t (*fn)(uint32_t, const void*, size_t);
  bool available;
};

const Routine kRoutines[] = {
    {"slice", qv::detail::crc32Slice, true},
    {"pclmul", qv::detail::crc32Pclmul, qv::detail::cpuHasPclmul()},
    {"vpclmul", qv::detail::crc32Vpclmul, qv::detail::cpuHasVpclmul()},
    {"dispatched", qv::crc32Update, true},
};

uint32_t reference(uint32_t crc, const unsigned char* p, size_t n) {
  uint32_t c = ~crc;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

const Routine& pick(unsigned index) {
  const Routine& r = kRoutines[index % 4];
  return r.available ? r : kRoutines[0];
}

[[noreturn]] void fail(const char* what, const Routine& head, const Routine& tail,
                       size_t offset, size_t size, size_t cut, uint32_t got, uint32_t want) {
  std::fprintf(stderr, "%s: %s then %s, offset %zu, size %zu, cut %zu: %08x, want %08x\n",
               what, head.name, tail.name, offset, size, cut, got, want);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t offset = data[0] & 15;
  const uint32_t initial = (data[0] & 16) ? 0xDEADBEEFu : 0;
  const Routine& head = pick(data[0] >> 5);
  const Routine& tail = pick((data[0] >> 7) | ((data[1] & 1u) << 1));
  const size_t n = size - 3;
  const size_t cut = ((size_t{data[1]} << 8) | data[2]) % (n + 1);

  std::unique_ptr<unsigned char[]> buffer(new unsigned char[offset + n]);
  unsigned char* p = buffer.get() + offset;
  if (n != 0) std::memcpy(p, data + 3, n);

  const uint32_t want = reference(initial, p, n);
  for (const Routine& whole : kRoutines) {
    if (!whole.available) continue;
    const uint32_t got = whole.fn(initial, p, n);
    if (got != want) fail("whole buffer", whole, whole, offset, n, n, got, want);
  }
  const uint32_t got = tail.fn(head.fn(initial, p, cut), p + cut, n - cut);
  if (got != want) fail("split buffer", head, tail, offset, n, cut, got, want);
  return 0;
}
