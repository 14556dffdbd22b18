#pragma once
// Control requests for the running service. The main thread turns signals
// into requests (SIGTERM/SIGINT stop, SIGUSR1 pause, SIGUSR2 continue) and
// posts them here; the service thread takes them inside its execute loop. A
// stop request is also visible at once to anything that waits on the service
// thread before the loop runs (the backend's wait for the database).
//
// Thread-safety: all operations are safe from any thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace courio {

enum class TControlRequest { Stop, Pause, Continue };

class TServiceControl {
 public:
  void Post(TControlRequest request);
  // Waits up to `timeout` for the next request.
  std::optional<TControlRequest> Take(std::chrono::milliseconds timeout);
  bool StopRequested() const;
  // Waits up to `timeout`; true when a stop has been requested.
  bool WaitForStop(std::chrono::milliseconds timeout);
  // Clears all state (a new run in the same process, tests).
  void Reset();

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TControlRequest> queue_;  // guarded by mutex_
  bool stopRequested_ = false;         // guarded by mutex_
};

// The process-wide control channel of the service.
TServiceControl& ServiceControl();

}  // namespace courio
