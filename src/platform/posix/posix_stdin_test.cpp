#include "platform/posix/posix_stdin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace qv::posix {
namespace {

class Pipe {
 public:
  Pipe() {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    read_.reset(fds[0]);
    write_.reset(fds[1]);
  }
  int readEnd() const { return read_.get(); }
  void send(const std::string& data) {
    ASSERT_EQ(write(write_.get(), data.data(), data.size()),
              static_cast<ssize_t>(data.size()));
  }
  void closeWriteEnd() { write_.reset(); }

 private:
  UniqueFd read_;
  UniqueFd write_;
};

std::vector<std::string> readAll(FdLineReader& reader) {
  std::vector<std::string> lines;
  std::string line;
  while (reader.readLine(line)) lines.push_back(line);
  return lines;
}

TEST(FdLineReader, SplitsLinesAndDropsOneCarriageReturn) {
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"plain", "cancel\npause\n", {"cancel", "pause"}},
      {"crlf", "cancel\r\nresume\r\n", {"cancel", "resume"}},
      {"only one cr dropped", "a\r\r\n", {"a\r"}},
      {"cr inside kept", "a\rb\n", {"a\rb"}},
      {"last line without lf", "pause\nresume", {"pause", "resume"}},
      {"empty lines", "\n\r\n", {"", ""}},
      {"nothing", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pipe pipe;
    pipe.send(c.input);
    pipe.closeWriteEnd();
    FdLineReader reader(pipe.readEnd());
    EXPECT_EQ(readAll(reader), c.lines);
  }
}

TEST(FdLineReader, LineSplitAcrossWritesAndLongLines) {
  Pipe pipe;
  FdLineReader reader(pipe.readEnd());
  const std::string longLine(100000, 'x');
  auto lines = std::async(std::launch::async, [&] { return readAll(reader); });
  pipe.send("can");
  pipe.send("cel\r");
  pipe.send("\n" + longLine + "\n");
  pipe.closeWriteEnd();
  EXPECT_EQ(lines.get(), (std::vector<std::string>{"cancel", longLine}));
}

TEST(FdLineReader, CancelEndsAPendingReadPromptly) {
  Pipe pipe;  // the write end stays open and silent
  FdLineReader reader(pipe.readEnd());
  auto result = std::async(std::launch::async, [&] {
    std::string line;
    return reader.readLine(line);
  });
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  const auto start = std::chrono::steady_clock::now();
  reader.cancel();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(result.get());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

  // Later reads fail too, even with input waiting; cancel may be repeated.
  pipe.send("resume\n");
  reader.cancel();
  std::string line;
  EXPECT_FALSE(reader.readLine(line));
}

}  // namespace
}  // namespace qv::posix
