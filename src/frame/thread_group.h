// The threads of one stage of a phase, and how their failures end the job.

#ifndef QV_FRAME_THREAD_GROUP_H_
#define QV_FRAME_THREAD_GROUP_H_

#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "frame/job_context.h"

namespace qv {

// Threads started by one stage, joined in start order. Nothing may leave a
// thread body (the process would end without a word): a failure there
// (memory, the event stream) is kept, cancels the job so the other threads
// come to an end, and is raised by joinAll once every thread has ended, so
// the job ends as fatal. When a start fails, the failure leaves start() and
// the destructor cancels the job and joins the threads already running,
// since a joinable thread must not be destroyed. Each thread holds a
// FolderReuseScope for its whole life.
class ThreadGroup {
 public:
  explicit ThreadGroup(JobContext& job) : job_(job) {}
  ~ThreadGroup() {
    if (!threads_.empty()) {
      job_.control.cancel();
      for (std::thread& thread : threads_) thread.join();
    }
  }
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;

  template <typename Body>
  void start(Body body) {
    threads_.emplace_back([this, body] {
      FolderReuseScope reuse(job_.platform);
      try {
        body();
      } catch (...) {
        capture(std::current_exception());
      }
    });
  }

  void joinAll() {
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    std::lock_guard<std::mutex> lock(failureMutex_);
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void capture(std::exception_ptr failure) {
    {
      std::lock_guard<std::mutex> lock(failureMutex_);
      if (!failure_) failure_ = std::move(failure);
    }
    job_.control.cancel();
  }

  JobContext& job_;
  std::vector<std::thread> threads_;
  std::mutex failureMutex_;  // guards failure_
  std::exception_ptr failure_;
};

}  // namespace qv

#endif  // QV_FRAME_THREAD_GROUP_H_
