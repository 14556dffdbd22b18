#include "service/ServiceControl.hpp"

namespace courio {

void TServiceControl::Post(TControlRequest request) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(request);
    if (request == TControlRequest::Stop) stopRequested_ = true;
  }
  changed_.notify_all();
}

std::optional<TControlRequest> TServiceControl::Take(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, timeout, [this] { return !queue_.empty(); })) return std::nullopt;
  TControlRequest r = queue_.front();
  queue_.pop_front();
  return r;
}

bool TServiceControl::StopRequested() const {
  std::lock_guard lock(mutex_);
  return stopRequested_;
}

bool TServiceControl::WaitForStop(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return stopRequested_; });
}

void TServiceControl::Reset() {
  std::lock_guard lock(mutex_);
  queue_.clear();
  stopRequested_ = false;
}

TServiceControl& ServiceControl() {
  static TServiceControl instance;
  return instance;
}

}  // namespace courio
