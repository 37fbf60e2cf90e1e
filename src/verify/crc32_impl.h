#ifndef QV_VERIFY_CRC32_IMPL_H_
#define QV_VERIFY_CRC32_IMPL_H_

// The individual CRC-32 routines behind crc32Update, exposed so that tests can
// check each one on its own. All take and return the same value as
// crc32Update (the caller's running CRC, not the inverted register).

#include <cstddef>
#include <cstdint>

namespace qv::detail {

// Portable table-driven routine; correct on every CPU.
uint32_t crc32Slice(uint32_t crc, const void* data, size_t size);

// 128-bit carry-less multiply folding. Call only when cpuHasPclmul().
uint32_t crc32Pclmul(uint32_t crc, const void* data, size_t size);

// 512-bit carry-less multiply folding (VPCLMULQDQ with AVX-512). Call only
// when cpuHasVpclmul().
uint32_t crc32Vpclmul(uint32_t crc, const void* data, size_t size);

// What the running CPU and operating system support (the latter matters: a
// vector register file the system does not save must not be used).
bool cpuHasPclmul();
bool cpuHasVpclmul();

}  // namespace qv::detail

#endif  // QV_VERIFY_CRC32_IMPL_H_
