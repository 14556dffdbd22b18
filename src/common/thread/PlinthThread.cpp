#include "common/thread/PlinthThread.hpp"

#include <exception>

#include "common/log/LogFacility.hpp"

namespace courio {

TPlinthThread::~TPlinthThread() { Finish(); }

void TPlinthThread::Finish() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
    // A thread that was never started still runs its body once, with the
    // terminated flag set, so its start and end events are delivered.
    if (!started_) {
      started_ = true;
      thread_ = std::thread([this] { Execute(); });
    }
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TPlinthThread::Start() {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  thread_ = std::thread([this] { Execute(); });
}

void TPlinthThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  wake_.notify_all();
}

void TPlinthThread::StopAndWait() {
  Stop();
  std::thread::id self = std::this_thread::get_id();
  bool joinable;
  {
    std::lock_guard lock(mutex_);
    joinable = started_ && thread_.joinable() && thread_.get_id() != self;
  }
  if (joinable) thread_.join();
}

bool TPlinthThread::Terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

bool TPlinthThread::Started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

bool TPlinthThread::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, timeout, [this] { return terminated_; });
}

void TPlinthThread::Execute() {
  if (OnThreadStart) {
    try {
      OnThreadStart(*this);
    } catch (const std::exception& e) {
      Log(TLogLevel::Exception, "[TPlinthThread.DoThreadStart] Thread: % | Error : %", {ThreadName, e.what()});
    }
  }
  while (!Terminated()) {
    try {
      DoWork();
    } catch (const std::exception& e) {
      Log(TLogLevel::Exception, "[TPlinthThread.Execute] Thread: % | Error : %", {ThreadName, e.what()});
    } catch (...) {
      Log(TLogLevel::Exception, "[TPlinthThread.Execute] Thread: % | Error : %", {ThreadName, "unknown error"});
    }
    WaitFor(kPause);
  }
  if (OnThreadTerminate) {
    try {
      OnThreadTerminate(*this);
    } catch (const std::exception& e) {
      Log(TLogLevel::Exception, "[TPlinthThread.DoThreadTerminate] Thread: % | Error : %", {ThreadName, e.what()});
    }
  }
}

void TPlinthTaskThread::DoWork() {
  if (!OnWork) return;
  try {
    OnWork(Param, *this);
  } catch (const std::exception& e) {
    Log(TLogLevel::Exception, "[TPlinthTaskThread.DoWork] Thread : % | Error : %", {ThreadName, e.what()});
  }
}

}  // namespace courio
