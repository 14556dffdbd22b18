#pragma once
// TCourioEventUploader: the outbound end of the service. Every pass takes the
// oldest pending InvoiceEvent and the oldest pending DriverEvent (lowest ID,
// UploadStatus 0), turns each into one cloud API call and records the outcome:
//   - accepted (2xx): UploadStatus 1 and UploadTimestamp;
//   - refused for the row itself (a 4xx other than 401, 403, 408 and 429),
//     an unknown EventType or event data that cannot be read: UploadStatus 2
//     ("rejected", kept for the technician), with an error line, so one bad
//     row never blocks the queue;
//   - not delivered (no answer, time-out, 3xx, 401, 403, 408, 429, 5xx): the
//     row stays pending and the uploader backs off for the whole pass (both
//     steps): 3 s, doubling up to 5 min, or the cloud's Retry-After (capped at
//     5 min). During the back-off a pass sends nothing.
// A pass runs at most once every 3 whole seconds (more than 2 whole seconds
// since the previous pass ended). Identical repeated error lines are folded.
//
// Threads: Initialise/Finalise/Start/Stop run on the owner's thread; passes
// run on the worker thread only (or, in tests, on the caller's thread while
// the worker is not started). Finalise and the destructor wait for a running
// pass before anything it uses is released.
// Failure: Initialise throws EAssertionFailed when there is no local store;
// every other error is logged and the pass is tried again later.

#include <cstdint>
#include <string>

#include "common/log/ErrorFolder.hpp"
#include "common/thread/PlinthThread.hpp"
#include "common/di/intfDI.hpp"
#include "store/intfCourioDataStore.hpp"
#include "uploader/intfCourioEventUploader.hpp"

namespace courio {

class ICourioAPI;

class TCourioEventUploader final : public ICourioEventUploader {
 public:
  // UploadStatus values of InvoiceEvent and DriverEvent rows.
  static constexpr int kPending = 0;
  static constexpr int kSent = 1;
  static constexpr int kRejected = 2;

  TCourioEventUploader();
  ~TCourioEventUploader() override;

  void Initialise() override;
  void Finalise() override;
  void Start() override;
  void Stop() override;

  // One pass (the worker's task); public so tests can drive passes directly.
  void ThreadTask();

  // The uploader's own settings row as read or created by Initialise.
  const TSQLSettings& UploaderRow() const { return uploaderRow_; }

 private:
  enum class TStepResult { Idle, Done, Held };

  void LoadSettings();
  TStepResult InvoiceStep();
  TStepResult DriverStep();
  // A transport configured from the settings and an API client around it.
  std::shared_ptr<ICourioAPI> MakeAPI() const;
  // Sorts a call that was not accepted: true when the row itself was refused
  // (mark it rejected), false when it must wait (back-off).
  static bool RefusedForTheRow(int status);
  // Logs (folded) that `what` stays pending and keeps the cloud's Retry-After.
  void Hold(const std::string& what, int status, int retryAfter);

  // Back-off after an undelivered call (worker thread only).
  bool BackoffDue(TDateTime now) const;
  void BackoffFailed(TDateTime now);

  TPlinthTaskThread thread_;
  ICourioDataStorePtr store_;
  std::string url_;
  std::string user_;
  std::string password_;
  int32_t storeId_ = 0;
  TSQLSettings uploaderRow_;
  TDateTime lastRun_ = 0;  // when the last pass ended

  // Worker thread only.
  TErrorFolder errors_;
  int failures_ = 0;          // undelivered passes in a row
  double delaySeconds_ = 0;   // the doubling delay of the current back-off
  int retryAfter_ = -1;       // the cloud's Retry-After of the held call
  long long retryAtMs_ = 0;   // on the service clock, whole milliseconds
};

class TCourioEventUploaderFactory final : public IPlinthInterfaceFactory {
 public:
  // Every call makes a new uploader.
  void CreateInstance(IInterfacePtr& instance) override;
};

// Adds / removes the uploader's factory (by interface id, no name).
void RegisterCourioEventUploader(IPlinthDI& di);
void UnregisterCourioEventUploader(IPlinthDI& di);

}  // namespace courio
