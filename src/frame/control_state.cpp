#include "frame/control_state.h"

#include "platform/platform.h"

namespace qv {

void ControlState::releaseGate() {
  // Taking the gate mutex between the flag change and the broadcast orders
  // them against a waiter that tested the flag under the mutex and is about
  // to sleep: it either sees the new value or is already waiting.
  { std::lock_guard<std::mutex> lock(gateMutex_); }
  gateCondition_.notify_all();
}

void ControlState::cancel() {
  cancelled_.exchange(true);
  paused_.exchange(false);
  releaseGate();
}

void ControlState::pause() { paused_.exchange(true); }

void ControlState::resume() {
  paused_.exchange(false);
  releaseGate();
}

void ControlState::waitWhilePaused() {
  if (!paused_.load()) return;
  std::unique_lock<std::mutex> lock(gateMutex_);
  while (paused_.load() && !cancelled_.load()) gateCondition_.wait(lock);
}

void ControlState::setCurrentFile(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(currentFileMutex_);
  currentFile_ = path;
}

std::u16string ControlState::currentFile() const {
  std::lock_guard<std::mutex> lock(currentFileMutex_);
  return currentFile_;
}

void readControlChannel(ControlState& control, LineReader& input) {
  std::string line;
  while (input.readLine(line)) {
    if (line == "cancel") {
      control.cancel();
      return;
    }
    if (line == "pause") {
      control.pause();
    } else if (line == "resume") {
      control.resume();
    }
  }
}

}  // namespace qv
