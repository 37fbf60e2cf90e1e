// The job-wide control state: the cancel and pause flags, the pause gate and
// the current-file slot. One per job, shared by every thread of the job.
#ifndef QV_FRAME_CONTROL_STATE_H_
#define QV_FRAME_CONTROL_STATE_H_

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

namespace qv {

class LineReader;

class ControlState {
 public:
  // Flags are read without a lock by every loop.
  bool cancelled() const { return cancelled_.load(); }
  bool paused() const { return paused_.load(); }

  // Sets `cancelled`, clears `paused` and releases every waiter at the gate.
  void cancel();
  // Holds workers at the gate from their next waitWhilePaused().
  void pause();
  // Clears `paused` and releases every waiter.
  void resume();

  // Returns at once when not paused; otherwise blocks until "resume" or
  // "cancel". Callers test cancelled() themselves.
  void waitWhilePaused();

  // The item most recently taken by a worker, for progress events.
  void setCurrentFile(const std::u16string& path);
  std::u16string currentFile() const;

 private:
  // Changes `paused` and wakes the waiters so that a waiter that has just
  // seen `paused` set under the gate mutex cannot miss the change.
  void releaseGate();

  std::atomic<bool> cancelled_{false};
  std::atomic<bool> paused_{false};

  std::mutex gateMutex_;  // guards the wait on gateCondition_
  std::condition_variable gateCondition_;

  mutable std::mutex currentFileMutex_;  // guards currentFile_
  std::u16string currentFile_;
};

// The control thread's body: applies "cancel", "pause" and "resume" lines
// from the host until "cancel" or the end of input (which changes nothing).
void readControlChannel(ControlState& control, LineReader& input);

}  // namespace qv

#endif  // QV_FRAME_CONTROL_STATE_H_
