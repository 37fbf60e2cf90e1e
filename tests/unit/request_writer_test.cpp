#include "request_writer/request_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::tools {
namespace {

// The bytes of a small request, laid out by hand from the file format, so the
// writer and the reader cannot agree on a wrong layout unnoticed.
TEST(RequestWriterTest, WritesTheFileLayoutByteForByte) {
  RequestFields f;
  f.sourceRoots = {"r"};
  f.files = {{"s", "", "d", 1, 2}};
  f.directories = {{"", "", "x"}};
  RequestOffsets at;
  std::string bytes = writeRequest(f, &at);

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

  // The offsets the reader's tests damage a request at: spot checks.
  EXPECT_EQ(at.workerCount, 16u);
  EXPECT_EQ(at.files.at(0).size, 83u);
  EXPECT_EQ(at.directories.at(0).destinationPath, 111u);
  EXPECT_EQ(at.end, bytes.size());

  // A declared count of its own, for requests that lie about their length.
  f.fileCount = 0x01020304;
  bytes = writeRequest(f, &at);
  EXPECT_EQ(bytes.substr(at.fileCount, 4), "\x04\x03\x02\x01");
}

}  // namespace
}  // namespace qv::tools
