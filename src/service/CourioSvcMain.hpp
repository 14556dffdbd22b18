#pragma once
// The process entry and the service module: banner, command words, the
// service thread with its start, execute and stop handlers, and the final
// "Courio Service Ending" with a forced flush.

#include <string>
#include <vector>

#include "service/intfCourioBackend.hpp"

namespace courio {

// The service module. All handlers run on the service thread.
class TsvcCourio {
 public:
  void NtServiceStart(bool& doAction);
  void NtServiceExecute();
  void NtServiceStop(bool& doAction);

  // Runs start, execute and (on failure) stop on the calling thread, as the
  // service thread. Returns false when execution failed.
  bool RunServiceThread();

 private:
  // Handles one control request; returns false while paused requests wait.
  void ProcessRequest();

  ICourioBackendPtr Backend;
  bool terminated_ = false;  // service thread only
  bool paused_ = false;      // service thread only
};

// The whole program: parses the command line, initialises every unit, runs
// the word and finalises. Returns the process exit status.
int CourioSvcMain(const std::vector<std::string>& args);

}  // namespace courio
