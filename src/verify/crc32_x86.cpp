// Carry-less multiply folding for x86-64, picked at run time by CPU feature.
// Each routine carries its own target attribute, so the rest of the build needs
// no instruction-set flags and runs on any x86-64 CPU.

#include "verify/crc32_impl.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

// MSVC enables every intrinsic without per-function targets and has its own
// cpuid; GCC and Clang need both spelled out.
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define QV_TARGET(isa)
#else
#include <cpuid.h>
#define QV_TARGET(isa) __attribute__((target(isa)))
#endif

namespace qv::detail {
namespace {

// How the constants follow from the arithmetic. A 16-byte block loaded
// little-endian holds a polynomial with its highest-degree coefficient in bit 0
// (the reflected order). A constant c = x^n mod P(x) is stored reflected over
// 33 bits (bit i holds the coefficient of x^(32-i)). Carry-less multiplying a
// qword by such a constant yields the product reflected over 96 bits, which
// read as a 128-bit block is the product times x^32. So a block that lies d bits
// before another is carried onto it with x^(d+32) for its high-degree (low)
// qword and x^(d-32) for its low-degree (high) qword.
// Derived from P(x) = 0x104C11DB7 by polynomial arithmetic over GF(2).
constexpr long long kFold128Lo = 0x1751997D0;   // x^160
constexpr long long kFold128Hi = 0x0CCAA009E;   // x^96
constexpr long long kFold256Lo = 0x0F1DA05AA;   // x^288
constexpr long long kFold256Hi = 0x15A546366;   // x^224
constexpr long long kFold384Lo = 0x03DB1ECDC;   // x^416
constexpr long long kFold384Hi = 0x174359406;   // x^352
constexpr long long kFold512Lo = 0x154442BD4;   // x^544
constexpr long long kFold512Hi = 0x1C6E41596;   // x^480
constexpr long long kFold2048Lo = 0x11542778A;  // x^2080
constexpr long long kFold2048Hi = 0x1322D1430;  // x^2016
// Final reduction: x^96 takes 128 bits to 96, x^64 takes 96 bits to 64, then
// Barrett with mu = floor(x^64 / P(x)) and P(x) itself, both reflected over 33 bits.
constexpr long long kReduce96 = 0x0CCAA009E;  // x^96
constexpr long long kReduce64 = 0x163CD6124;  // x^64
constexpr long long kBarrettMu = 0x1F7011641;
constexpr long long kBarrettPoly = 0x1DB710641;

inline __m128i load128(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Carries acc forward over the distance that k was made for, onto next.
QV_TARGET("pclmul") inline __m128i fold128(__m128i acc, __m128i next, __m128i k) {
  __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Returns the inverted CRC register for a message whose (already folded)
// last 16 bytes are x.
QV_TARGET("pclmul") uint32_t reduce128(__m128i x) {
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  const __m128i k = _mm_set_epi64x(kReduce64, kReduce96);
  const __m128i b = _mm_set_epi64x(kBarrettPoly, kBarrettMu);
  // x * x^32: the high-degree qword moves down by x^96, the other by a shift.
  __m128i t = _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_srli_si128(x, 8));
  // 96 -> 64 bits: the top 32 coefficients move down by x^64.
  t = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(t, low32), k, 0x10), _mm_srli_si128(t, 4));
  // Barrett: q = floor(t / P), remainder = t - q * P in the upper dword.
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(t, low32), b, 0x00);
  __m128i r = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(q, low32), b, 0x10), t);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(r, 4)));
}

// Folds the remaining whole blocks into x, reduces, and hands the last few
// bytes to the table routine.
QV_TARGET("pclmul") uint32_t finish(__m128i x, const unsigned char* p, size_t size) {
  const __m128i k = _mm_set_epi64x(kFold128Hi, kFold128Lo);
  for (; size >= 16; p += 16, size -= 16) x = fold128(x, load128(p), k);
  return crc32Slice(~reduce128(x), p, size);
}

QV_TARGET("avx512f,vpclmulqdq,pclmul")
inline __m512i fold512(__m512i acc, __m512i next, __m512i k) {
  __m512i lo = _mm512_clmulepi64_epi128(acc, k, 0x00);
  __m512i hi = _mm512_clmulepi64_epi128(acc, k, 0x11);
  return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // lo ^ hi ^ next
}

QV_TARGET("avx512f") inline __m512i load512(const unsigned char* p) {
  return _mm512_loadu_si512(p);
}

struct CpuId {
  unsigned a = 0, b = 0, c = 0, d = 0;
};

CpuId cpuid(unsigned leaf) {
  CpuId r;
#if defined(_MSC_VER) && !defined(__clang__)
  int v[4];
  __cpuidex(v, static_cast<int>(leaf), 0);
  r = {static_cast<unsigned>(v[0]), static_cast<unsigned>(v[1]), static_cast<unsigned>(v[2]),
       static_cast<unsigned>(v[3])};
#else
  if (!__get_cpuid_count(leaf, 0, &r.a, &r.b, &r.c, &r.d)) r = {};
#endif
  return r;
}

// Only valid when cpuid reports OSXSAVE.
QV_TARGET("xsave") unsigned long long enabledStateMask() { return _xgetbv(0); }

}  // namespace

bool cpuHasPclmul() { return (cpuid(1).c & (1u << 1)) != 0; }

bool cpuHasVpclmul() {
  CpuId one = cpuid(1);
  const bool osxsave = (one.c & (1u << 27)) != 0;
  if (!osxsave || !cpuHasPclmul()) return false;
  // The system must save the SSE, AVX and all three AVX-512 register states.
  const unsigned long long kZmmState = 0xE6;
  if ((enabledStateMask() & kZmmState) != kZmmState) return false;
  if (cpuid(0).a < 7) return false;
  CpuId seven = cpuid(7);
  const bool avx512f = (seven.b & (1u << 16)) != 0;
  const bool vpclmulqdq = (seven.c & (1u << 10)) != 0;
  return avx512f && vpclmulqdq;
}

QV_TARGET("pclmul") uint32_t crc32Pclmul(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (size < 64) return crc32Slice(crc, p, size);
  // Four independent accumulators hide the multiply latency.
  const __m128i k4 = _mm_set_epi64x(kFold512Hi, kFold512Lo);
  const __m128i k1 = _mm_set_epi64x(kFold128Hi, kFold128Lo);
  __m128i x0 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(~crc)));
  __m128i x1 = load128(p + 16);
  __m128i x2 = load128(p + 32);
  __m128i x3 = load128(p + 48);
  for (p += 64, size -= 64; size >= 64; p += 64, size -= 64) {
    x0 = fold128(x0, load128(p), k4);
    x1 = fold128(x1, load128(p + 16), k4);
    x2 = fold128(x2, load128(p + 32), k4);
    x3 = fold128(x3, load128(p + 48), k4);
  }
  __m128i x = fold128(fold128(fold128(x0, x1, k1), x2, k1), x3, k1);
  return finish(x, p, size);
}

// Windows x64 only guarantees a 16-byte aligned stack, so an aligned move of a
// spilled 64-byte vector could fault there. Nothing here depends on wider
// alignment: data is read with unaligned loads, at -O2 every vector stays in a
// register (fewer than ten of the 32 are live), and mingw-w64 gcc 12 spills
// with unaligned moves at -O0 (checked under Wine at both levels).
QV_TARGET("avx512f,vpclmulqdq,pclmul")
uint32_t crc32Vpclmul(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (size < 256) return crc32Pclmul(crc, p, size);
  const __m512i k4 = _mm512_set_epi64(kFold2048Hi, kFold2048Lo, kFold2048Hi, kFold2048Lo,
                                      kFold2048Hi, kFold2048Lo, kFold2048Hi, kFold2048Lo);
  const __m512i k1 = _mm512_set_epi64(kFold512Hi, kFold512Lo, kFold512Hi, kFold512Lo, kFold512Hi,
                                      kFold512Lo, kFold512Hi, kFold512Lo);
  __m512i z0 = _mm512_xor_si512(load512(p),
                                _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(~crc))));
  __m512i z1 = load512(p + 64);
  __m512i z2 = load512(p + 128);
  __m512i z3 = load512(p + 192);
  for (p += 256, size -= 256; size >= 256; p += 256, size -= 256) {
    z0 = fold512(z0, load512(p), k4);
    z1 = fold512(z1, load512(p + 64), k4);
    z2 = fold512(z2, load512(p + 128), k4);
    z3 = fold512(z3, load512(p + 192), k4);
  }
  __m512i z = fold512(fold512(fold512(z0, z1, k1), z2, k1), z3, k1);
  for (; size >= 64; p += 64, size -= 64) z = fold512(z, load512(p), k1);
  // Carry the first three 16-byte lanes onto the last one in a single step.
  const __m512i kLanes = _mm512_set_epi64(0, 0, kFold128Hi, kFold128Lo, kFold256Hi, kFold256Lo,
                                          kFold384Hi, kFold384Lo);
  __m512i t = _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(z, kLanes, 0x00),
                                        _mm512_clmulepi64_epi128(z, kLanes, 0x11),
                                        _mm512_maskz_mov_epi64(0xC0, z), 0x96);
  // The zero-masking extract avoids gcc 12's false "may be used uninitialized"
  // from the plain forms.
  __m128i x = _mm_xor_si128(_mm_xor_si128(_mm512_maskz_extracti32x4_epi32(0xF, t, 0),
                                          _mm512_maskz_extracti32x4_epi32(0xF, t, 1)),
                            _mm_xor_si128(_mm512_maskz_extracti32x4_epi32(0xF, t, 2),
                                          _mm512_maskz_extracti32x4_epi32(0xF, t, 3)));
  return finish(x, p, size);
}

}  // namespace qv::detail

#else  // not x86-64: only the table routine exists

namespace qv::detail {

bool cpuHasPclmul() { return false; }
bool cpuHasVpclmul() { return false; }
uint32_t crc32Pclmul(uint32_t crc, const void* data, size_t size) {
  return crc32Slice(crc, data, size);
}
uint32_t crc32Vpclmul(uint32_t crc, const void* data, size_t size) {
  return crc32Slice(crc, data, size);
}

}  // namespace qv::detail

#endif
