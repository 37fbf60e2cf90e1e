#include "verify/crc32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "verify/crc32_impl.h"

#if defined(QV_TEST_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace qv {
namespace {

struct Routine {
  const char* name;
  uint32_t (*fn)(uint32_t, const void*, size_t);
  bool (*available)();
};

bool always() { return true; }

const Routine kRoutines[] = {
    {"slice", detail::crc32Slice, always},
    {"pclmul", detail::crc32Pclmul, detail::cpuHasPclmul},
    {"vpclmul", detail::crc32Vpclmul, detail::cpuHasVpclmul},
    {"dispatched", crc32Update, always},
};

std::vector<unsigned char> randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> v(n);
  for (auto& b : v) b = static_cast<unsigned char>(rng());
  return v;
}

// The reference: zlib where the build has it, else the CRC's bit-at-a-time
// definition, which shares nothing with the routines under test.
uint32_t referenceByte(uint32_t crc, unsigned char byte) {
#if defined(QV_TEST_HAVE_ZLIB)
  return static_cast<uint32_t>(crc32(crc, &byte, 1));
#else
  uint32_t c = ~crc ^ byte;
  for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  return ~c;
#endif
}

uint32_t reference(uint32_t crc, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) crc = referenceByte(crc, p[i]);
  return crc;
}

// prefix[n] is the reference CRC of the first n bytes: every length for the
// price of one pass.
std::vector<uint32_t> prefixCrcs(uint32_t crc, const unsigned char* p, size_t n) {
  std::vector<uint32_t> prefix{crc};
  for (size_t i = 0; i < n; ++i) prefix.push_back(crc = referenceByte(crc, p[i]));
  return prefix;
}

class Crc32Test : public testing::TestWithParam<Routine> {
 protected:
  void SetUp() override {
    if (!GetParam().available()) GTEST_SKIP() << "CPU lacks " << GetParam().name;
  }
  uint32_t run(uint32_t crc, const void* p, size_t n) const { return GetParam().fn(crc, p, n); }
};

TEST_P(Crc32Test, KnownValues) {
  struct Case {
    const char* text;
    uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000},
      {"a", 0xE8B7BE43},
      {"123456789", 0xCBF43926},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
  };
  for (const Case& c : cases)
    EXPECT_EQ(run(0, c.text, std::strlen(c.text)), c.crc) << '"' << c.text << '"';
}

// Every length up to 4096, each placed flush against the end of its
// allocation so that a read past the end shows up under AddressSanitizer.
TEST_P(Crc32Test, EveryLengthMatchesReference) {
  const std::vector<unsigned char> src = randomBytes(4096, 1);
  const std::vector<uint32_t> fromZero = prefixCrcs(0, src.data(), src.size());
  const std::vector<uint32_t> fromOther = prefixCrcs(0xDEADBEEF, src.data(), src.size());
  std::vector<unsigned char> buf(src.size());
  for (size_t n = 0; n <= src.size(); ++n) {
    unsigned char* p = buf.data() + buf.size() - n;
    std::memcpy(p, src.data(), n);
    ASSERT_EQ(run(0, p, n), fromZero[n]) << "length " << n;
    ASSERT_EQ(run(0xDEADBEEF, p, n), fromOther[n]) << "length " << n << " continuing";
  }
}

TEST_P(Crc32Test, EveryAlignmentMatchesReference) {
  const std::vector<unsigned char> src = randomBytes(64 + 5000, 2);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (size_t n : {511, 512, 513, 1023, 1024, 1025, 4095, 5000}) lengths.push_back(n);
  for (size_t offset = 0; offset < 64; ++offset) {
    const unsigned char* p = src.data() + offset;
    const std::vector<uint32_t> expected = prefixCrcs(0, p, 5000);
    for (size_t n : lengths)
      ASSERT_EQ(run(0, p, n), expected[n]) << "offset " << offset << " length " << n;
  }
}

// Splitting a buffer anywhere, and finishing it with any other routine, gives
// the CRC of the whole.
TEST_P(Crc32Test, ChainedUpdatesMatchWhole) {
  const std::vector<unsigned char> src = randomBytes(3000, 3);
  const unsigned char* p = src.data();
  const uint32_t whole = reference(0, p, src.size());
  for (size_t cut : {0, 1, 3, 15, 16, 17, 63, 64, 255, 256, 257, 1000, 2999, 3000}) {
    uint32_t head = run(0, p, cut);
    for (const Routine& other : kRoutines) {
      if (!other.available()) continue;
      EXPECT_EQ(other.fn(head, p + cut, src.size() - cut), whole)
          << "cut " << cut << " then " << other.name;
    }
  }
  uint32_t crc = 0;
  std::mt19937 rng(4);
  for (size_t at = 0; at < src.size();) {
    size_t n = std::min<size_t>(rng() % 700, src.size() - at);
    crc = run(crc, p + at, n);
    at += n;
  }
  EXPECT_EQ(crc, whole);
}

INSTANTIATE_TEST_SUITE_P(Routines, Crc32Test, testing::ValuesIn(kRoutines),
                         [](const testing::TestParamInfo<Routine>& routine) {
                           return std::string(routine.param.name);
                         });

}  // namespace
}  // namespace qv
