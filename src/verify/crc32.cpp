#include "verify/crc32.h"

#include <array>

#include "verify/crc32_impl.h"

namespace qv {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;  // reflected form of 0x04C11DB7
constexpr int kSlices = 16;

using Tables = std::array<std::array<uint32_t, 256>, kSlices>;

// Tables[k][b] is the register change caused by byte b followed by k zero
// bytes, so sixteen bytes can be folded in with sixteen independent lookups.
constexpr Tables makeTables() {
  Tables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[0][b] = c;
  }
  for (int k = 1; k < kSlices; ++k) {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t prev = t[k - 1][b];
      t[k][b] = (prev >> 8) ^ t[0][prev & 0xFF];
    }
  }
  return t;
}

constexpr Tables kTables = makeTables();

// Byte-wise assembly keeps the routine independent of the host's byte order;
// compilers turn it into one load on little-endian machines.
inline uint32_t loadLe32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

using Routine = uint32_t (*)(uint32_t, const void*, size_t);

struct Choice {
  Routine routine;
  const char* name;
};

Choice choose() {
  if (detail::cpuHasVpclmul()) return {detail::crc32Vpclmul, "vpclmulqdq"};
  if (detail::cpuHasPclmul()) return {detail::crc32Pclmul, "pclmulqdq"};
  return {detail::crc32Slice, "slice-by-16"};
}

const Choice& chosen() {
  static const Choice choice = choose();
  return choice;
}

}  // namespace

namespace detail {

uint32_t crc32Slice(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  const auto& t = kTables;
  uint32_t c = ~crc;
  while (size >= 16) {
    uint32_t a = loadLe32(p) ^ c;
    uint32_t b = loadLe32(p + 4);
    uint32_t d = loadLe32(p + 8);
    uint32_t e = loadLe32(p + 12);
    c = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
        t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
        t[7][d & 0xFF] ^ t[6][(d >> 8) & 0xFF] ^ t[5][(d >> 16) & 0xFF] ^ t[4][d >> 24] ^
        t[3][e & 0xFF] ^ t[2][(e >> 8) & 0xFF] ^ t[1][(e >> 16) & 0xFF] ^ t[0][e >> 24];
    p += 16;
    size -= 16;
  }
  while (size > 0) {
    c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
    ++p;
    --size;
  }
  return ~c;
}

}  // namespace detail

uint32_t crc32Update(uint32_t crc, const void* data, size_t size) {
  if (size == 0) return crc;
  return chosen().routine(crc, data, size);
}

const char* crc32Implementation() { return chosen().name; }

}  // namespace qv
