#include "frame/event_stream.h"

#include <gtest/gtest.h>

#include "request/job_plan.h"

namespace qv {
namespace {

class CapturedOutput : public EventOutput {
 public:
  void write(std::string_view bytes) override { pending += bytes; }
  void flush() override {
    flushed += pending;
    pending.clear();
  }
  std::string pending;
  std::string flushed;
};

// An item line is escaped, with an unconvertible path as "", and goes out
// with the next line that is not an item's.
TEST(EventStream, ItemLinesWaitForTheNextOtherLine) {
  CapturedOutput output;
  EventStream events(output);
  PlannedFile item;
  item.sourcePath = u"C:\\in\\a \"q\".txt";
  item.destinationPath = u"D:\\out\\\u00e9\t.txt";
  item.size = 42;
  events.emitItemEvent("failed", item, "Copy failed: x\x01");
  item.sourcePath = std::u16string(1, char16_t{0xD800});
  events.emitItemEvent("skipped", item, "");
  EXPECT_EQ(output.flushed, "");
  EXPECT_EQ(output.pending,
            "{\"type\":\"item\",\"status\":\"failed\",\"source\":\"C:\\\\in\\\\a \\\"q\\\".txt\","
            "\"destination\":\"D:\\\\out\\\\\xC3\xA9\\t.txt\",\"size\":42,"
            "\"error\":\"Copy failed: x\\u0001\"}\n"
            "{\"type\":\"item\",\"status\":\"skipped\",\"source\":\"\","
            "\"destination\":\"D:\\\\out\\\\\xC3\xA9\\t.txt\",\"size\":42,\"error\":\"\"}\n");
  events.emitLine(helloEvent());
  EXPECT_EQ(output.pending, "");
  EXPECT_NE(output.flushed.find("{\"type\":\"hello\",\"protocol\":3,\"workerVersion\":\"1.3.1\"}\n"),
            std::string::npos);
}

TEST(FatalEvent, EscapesTheMessage) {
  EXPECT_EQ(fatalEvent("a \"b\"\n"), "{\"type\":\"fatal\",\"message\":\"a \\\"b\\\"\\n\"}");
}

}  // namespace
}  // namespace qv
