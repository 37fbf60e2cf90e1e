#include "verify/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "verify/crc32_impl.h"

// Every length, alignment and split point against the bit-at-a-time
// definition is the CRC-32 fuzz target's job; these are the fixed points.
namespace qv {
namespace {

struct Routine {
  const char* name;
  uint32_t (*fn)(uint32_t, const void*, size_t);
  bool available;
};

std::vector<Routine> availableRoutines() {
  std::vector<Routine> all = {{"slice", detail::crc32Slice, true},
                              {"pclmul", detail::crc32Pclmul, detail::cpuHasPclmul()},
                              {"vpclmul", detail::crc32Vpclmul, detail::cpuHasVpclmul()},
                              {"dispatched", crc32Update, true}};
  std::erase_if(all, [](const Routine& r) { return !r.available; });
  return all;
}

TEST(Crc32, EveryRoutineGivesTheStandardValues) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"", 0x00000000},
      {"a", 0xE8B7BE43},
      {"123456789", 0xCBF43926},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
  };
  for (const Routine& r : availableRoutines()) {
    for (const auto& [text, crc] : cases)
      EXPECT_EQ(r.fn(0, text, std::strlen(text)), crc) << r.name << " \"" << text << '"';
  }
}

// Long enough for every folding loop and its tail, starting off alignment,
// cut where the wide routines change gear and finished by every routine.
TEST(Crc32, ChainedUpdatesOfAMisalignedBufferMatchTheWhole) {
  std::vector<unsigned char> buffer(3001);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i * 131 + 7);
  const unsigned char* p = buffer.data() + 1;
  const size_t n = buffer.size() - 1;
  uint32_t whole = ~0u;  // the bit-at-a-time definition
  for (size_t i = 0; i < n; ++i) {
    whole ^= p[i];
    for (int bit = 0; bit < 8; ++bit) whole = (whole >> 1) ^ (0xEDB88320u & (0u - (whole & 1)));
  }
  whole = ~whole;
  const std::vector<Routine> routines = availableRoutines();
  for (const Routine& first : routines) {
    for (size_t cut : {0, 1, 15, 64, 257, 1000, 3000}) {
      const uint32_t head = first.fn(0, p, cut);
      for (const Routine& then : routines)
        EXPECT_EQ(then.fn(head, p + cut, n - cut), whole)
            << first.name << " to " << cut << " then " << then.name;
    }
  }
}

}  // namespace
}  // namespace qv
