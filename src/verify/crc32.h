#ifndef QV_VERIFY_CRC32_H_
#define QV_VERIFY_CRC32_H_

#include <cstddef>
#include <cstdint>

namespace qv {

// Continues a standard CRC-32 (zlib's value: reflected polynomial 0xEDB88320,
// init and final XOR 0xFFFFFFFF).
// crc32Update(0, data, n) equals zlib's crc32(0, data, n); chaining works like
// zlib: crc32Update(crc32Update(0, a, n1), b, n2) == crc of a||b.
// Safe to call from any thread; the routine is picked once, on first use.
uint32_t crc32Update(uint32_t crc, const void* data, size_t size);

// Name of the routine chosen at run time ("vpclmulqdq", "pclmulqdq",
// "slice-by-16"), for benchmarks.
const char* crc32Implementation();

}  // namespace qv

#endif  // QV_VERIFY_CRC32_H_
