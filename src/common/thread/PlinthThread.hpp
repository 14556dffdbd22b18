#pragma once
// Folder common/thread: the worker threads every periodic component runs on.
// May use: common/log. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// Worker threads. A TPlinthTaskThread calls its owner's work handler over and
// over, pausing 100 ms after each call, until it is stopped. It is created
// suspended; Start resumes it; Stop asks it to end and returns at once (and
// cuts the pause short); destruction stops it, runs it once if it was never
// started, and joins it. No exception from the handler ends the thread.
//
// Thread-safety: Start/Stop/Terminated/WaitFor may be called from any thread;
// the handlers run on the worker thread only.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace courio {

class TPlinthThread {
 public:
  using TThreadEvent = std::function<void(TPlinthThread& thread)>;

  TPlinthThread() = default;
  virtual ~TPlinthThread();
  TPlinthThread(const TPlinthThread&) = delete;
  TPlinthThread& operator=(const TPlinthThread&) = delete;

  TThreadEvent OnThreadStart;
  TThreadEvent OnThreadTerminate;
  std::string ThreadName;

  // Resumes the suspended thread (once; later calls do nothing).
  void Start();
  // Requests termination and returns at once.
  void Stop();
  // Stop, then wait until the thread body has returned.
  void StopAndWait();
  bool Terminated() const;
  bool Started() const;
  // Waits up to `timeout`; returns false at once when termination is requested.
  bool WaitFor(std::chrono::milliseconds timeout);

  static constexpr std::chrono::milliseconds kPause{100};

 protected:
  // One unit of work.
  virtual void DoWork() = 0;
  // Must be called first in a derived destructor, so the worker never runs a
  // DoWork of a half-destroyed object.
  void Finish();

 private:
  void Execute();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool terminated_ = false;  // guarded by mutex_
  bool started_ = false;     // guarded by mutex_
  std::thread thread_;
};

class TPlinthTaskThread final : public TPlinthThread {
 public:
  using TWorkEvent = std::function<void(void* param, TPlinthThread& thread)>;

  ~TPlinthTaskThread() override { Finish(); }

  TWorkEvent OnWork;  // set before Start
  void* Param = nullptr;

 protected:
  void DoWork() override;
};

}  // namespace courio
