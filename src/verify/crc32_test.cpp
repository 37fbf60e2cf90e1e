#include "verify/crc32.h"

#include <gtest/gtest.h>

#include <vector>

#include "verify/crc32_impl.h"

// Every length, alignment, split point and pair of routines against the
// bit-at-a-time definition is the CRC-32 fuzz target's job; these are the
// fixed points.
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

// The long row starts off alignment and runs through every folding loop
// and its tail.
TEST(Crc32, EveryRoutineGivesTheStandardValues) {
  std::vector<unsigned char> buffer(3001);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i * 131 + 7);
  const struct {
    const void* bytes;
    size_t size;
    uint32_t crc;
  } cases[] = {
      {"", 0, 0x00000000},
      {"123456789", 9, 0xCBF43926},
      {buffer.data() + 1, 3000, 0xB468C89B},
  };
  for (const Routine& r : availableRoutines()) {
    for (const auto& c : cases) {
      EXPECT_EQ(r.fn(0, c.bytes, c.size), c.crc) << r.name << " " << c.size;
    }
  }
}

}  // namespace
}  // namespace qv
