#include "frame/control_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// Hands out prepared lines, then reports the end of input.
class ScriptedInput : public LineReader {
 public:
  explicit ScriptedInput(std::deque<std::string> lines) : lines_(std::move(lines)) {}
  bool readLine(std::string& line) override {
    if (lines_.empty()) return false;
    line = lines_.front();
    lines_.pop_front();
    return true;
  }
  void cancel() override {}

 private:
  std::deque<std::string> lines_;
};

struct ChannelCase {
  std::deque<std::string> lines;
  bool cancelled;
  bool paused;
};

TEST(ReadControlChannel, AppliesOnlyExactCommands) {
  // The reader drops the carriage return before a line feed, so "cancel\r\n"
  // arrives here as "cancel".
  const ChannelCase cases[] = {
      {{"cancel", "resume"}, true, false},  // nothing undoes a cancel
      {{"", "cancel ", "pause"}, false, true},  // the end of input changes nothing
      {{"pause", "pause", "resume"}, false, false},
      {{"pause", "cancel"}, true, false},
  };
  for (const ChannelCase& c : cases) {
    ControlState control;
    ScriptedInput input(c.lines);
    readControlChannel(control, input);
    EXPECT_EQ(control.cancelled(), c.cancelled) << c.lines.front();
    EXPECT_EQ(control.paused(), c.paused) << c.lines.front();
  }
}

TEST(PauseGate, HoldsUntilResumeOrCancel) {
  for (bool byCancel : {false, true}) {
    ControlState control;
    control.pause();
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
      waiters.emplace_back([&] {
        control.waitWhilePaused();
        released.fetch_add(1);
      });
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(released.load(), 0);
    if (byCancel) control.cancel(); else control.resume();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 4);
    EXPECT_EQ(control.cancelled(), byCancel);
    EXPECT_FALSE(control.paused());
  }
}

}  // namespace
}  // namespace qv
