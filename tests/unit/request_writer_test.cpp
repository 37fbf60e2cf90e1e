#include "request_writer/request_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::tools {
namespace {

// The bytes of a small request, laid out by hand from the file format, so the
// writer and the reader cannot agree on a wrong layout unnoticed. The offsets
// and declared counts it offers for damaging a request are test aids; the
// reader's refusal rows show the ones they use.
TEST(RequestWriterTest, WritesTheFileLayoutByteForByte) {
  RequestFields f;
  f.sourceRoots = {"r"};
  f.files = {{"s", "", "d", 1, 2}};
  f.directories = {{"", "", "x"}};
  const std::string bytes = writeRequest(f);

  static const char kExpected[] =
      "QVCWREQ1" "\x03\0\0\0"
      "\0\0\0\0"                                          // four single bytes
      "\x08\0\0\0" "\x01\0\0\0" "\0\0\0\0" "\0\0\x40\0"   // workers, buffer
      "\x01\0\0\0" "\0\0\0\0" "\0\0\x04\0" "\x80\0\0\0" "\0\x01\0\0"
      "\0\0\0\0"                                          // destination root
      "\x01\0\0\0" "\x01\0\0\0r"
      "\x01\0\0\0" "\x01\0\0\0s" "\0\0\0\0" "\x01\0\0\0d"
      "\x01\0\0\0\0\0\0\0" "\x02\0\0\0\0\0\0\0"
      "\x01\0\0\0" "\0\0\0\0" "\0\0\0\0" "\x01\0\0\0x";
  EXPECT_EQ(bytes, std::string(kExpected, sizeof kExpected - 1));
}

}  // namespace
}  // namespace qv::tools
