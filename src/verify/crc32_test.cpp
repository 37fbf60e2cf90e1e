#include "verify/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "verify/crc32_impl.h"

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

uint32_t zlibCrc(uint32_t crc, const unsigned char* p, size_t n) {
  // zlib takes lengths as uInt; every buffer here is far below 4 GiB.
  return static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
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
  for (const Case& c : cases) EXPECT_EQ(run(0, c.text, std::strlen(c.text)), c.crc) << '"' << c.text << '"';
}

// Every length up to 4096, each in an allocation of exactly that size so that
// a read past the end shows up under AddressSanitizer.
TEST_P(Crc32Test, EveryLengthMatchesZlib) {
  const std::vector<unsigned char> src = randomBytes(4096, 1);
  for (size_t n = 0; n <= src.size(); ++n) {
    std::vector<unsigned char> exact(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(n));
    const unsigned char* p = exact.data();
    ASSERT_EQ(run(0, p, n), zlibCrc(0, p, n)) << "length " << n;
    ASSERT_EQ(run(0xDEADBEEF, p, n), n == 0 ? 0xDEADBEEF : zlibCrc(0xDEADBEEF, p, n)) << "length " << n;
  }
}

TEST_P(Crc32Test, EveryAlignmentMatchesZlib) {
  const std::vector<unsigned char> src = randomBytes(64 + 5000, 2);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (size_t n : {511, 512, 513, 1023, 1024, 1025, 4095, 4999}) lengths.push_back(n);
  for (size_t offset = 0; offset < 64; ++offset) {
    for (size_t n : lengths) {
      const unsigned char* p = src.data() + offset;
      ASSERT_EQ(run(0, p, n), zlibCrc(0, p, n)) << "offset " << offset << " length " << n;
    }
  }
}

// Splitting a buffer anywhere, and finishing it with any other routine, gives
// the CRC of the whole.
TEST_P(Crc32Test, ChainedUpdatesMatchWhole) {
  const std::vector<unsigned char> src = randomBytes(3000, 3);
  const unsigned char* p = src.data();
  const uint32_t whole = zlibCrc(0, p, src.size());
  for (size_t cut : {0, 1, 3, 15, 16, 17, 63, 64, 255, 256, 257, 1000, 2999, 3000}) {
    uint32_t head = run(0, p, cut);
    for (const Routine& other : kRoutines) {
      if (!other.available()) continue;
      EXPECT_EQ(other.fn(head, p + cut, src.size() - cut), whole) << "cut " << cut << " then " << other.name;
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

TEST_P(Crc32Test, LargeBufferMatchesZlib) {
  const std::vector<unsigned char> src = randomBytes((1 << 20) + 13, 5);
  EXPECT_EQ(run(0x12345678, src.data(), src.size()), zlibCrc(0x12345678, src.data(), src.size()));
}

INSTANTIATE_TEST_SUITE_P(Routines, Crc32Test, testing::ValuesIn(kRoutines),
                         [](const testing::TestParamInfo<Routine>& info) { return std::string(info.param.name); });

TEST(Crc32, EmptyInputLeavesCrcUnchanged) {
  EXPECT_EQ(crc32Update(0x89ABCDEF, nullptr, 0), 0x89ABCDEFu);
}

TEST(Crc32, ImplementationNameFollowsCpu) {
  const std::string name = crc32Implementation();
  if (detail::cpuHasVpclmul()) {
    EXPECT_EQ(name, "vpclmulqdq");
  } else if (detail::cpuHasPclmul()) {
    EXPECT_EQ(name, "pclmulqdq");
  } else {
    EXPECT_EQ(name, "slice-by-16");
  }
}

}  // namespace
}  // namespace qv
