#pragma once
// What every tracker shares: the worker thread, the settings row (read once,
// then kept in memory and written back whole), its own POS connection, the
// shared local store, and the pass with its minimum gap.
//
// A pass runs when more than the minimum gap (whole seconds, absolute
// difference) has passed since "LastCheck". A pass that fails is retried
// with a back-off growing from 100 ms to the minimum gap, and identical
// error lines are folded (at most one a minute, with a repeat count).
//
// Threads: Initialise/Finalise/Start/Stop run on the backend's thread; passes
// run on the worker only. Finalise waits for a running pass before it
// releases the POS connection and the store. A concrete tracker's destructor
// calls thread_.StopAndWait() first, so no pass runs on a half-destroyed
// object.

#include <string>

#include "common/log/ErrorFolder.hpp"
#include "common/util/Json.hpp"
#include "common/thread/PlinthThread.hpp"
#include "common/posdb/intfDBManager.hpp"
#include "store/intfCourioDataStore.hpp"
#include "trackers/intfCourioEventTracker.hpp"

namespace courio {

struct TTrackerTraits {
  std::string name;          // registration name and settings row Name
  std::string className;     // for log lines, e.g. "TCourioEventTrackerNewInvoice"
  std::string where;         // condition selecting the settings row
  int minimumGapSeconds;     // 10, or 15 for the transition trackers
  bool lastCheckAfterFailure;
};

class TCourioEventTracker : public ICourioEventTracker {
 public:
  ~TCourioEventTracker() override;
  void Initialise() override;
  void Finalise() override;
  void Start() override;
  void Stop() override;

  // One pass (the worker's task); public so tests can drive passes directly.
  void ThreadTask();
  const TSQLSettings& Settings() const { return settings_; }

 protected:
  explicit TCourioEventTracker(TTrackerTraits traits);

  // The Value of a new settings row.
  virtual TJson NewRowValue(TDateTime now) = 0;
  // Reads or creates the settings row; trackers extend it (seeding, shared rows).
  virtual void LoadSettings();
  // Steps after the common ones of Initialise.
  virtual void InitialiseTracker() {}
  // The detection of one pass. Errors are thrown. Returns false when the pass
  // did nothing and must not count as done (no "LastCheck"), e.g. a cloud call
  // that gave no answer; it is then retried with the back-off.
  virtual bool Detect() = 0;
  // Whether "LastCheck" is written after a failed pass; the remote trackers
  // answer per pass (true once the answer was fetched).
  virtual bool LastCheckAfterFailure() { return traits_.lastCheckAfterFailure; }

  // "[<class>.<method>] <text>" at information level.
  void LogInfo(const std::string& method, const std::string& text) const;
  void LogError(const std::string& method, const std::string& message) const;
  std::string Prefix(const std::string& method) const { return "[" + traits_.className + "." + method + "] "; }
  void SaveSettings();
  // Reads a shared row ("Store", "WebService", "Account"); false when missing.
  bool ReadSharedRow(const std::string& where, TJson& value);
  // Records an event unless one matches `existingCondition` (atomic in the
  // store). Returns true when it was inserted; `existing` receives the match.
  bool RecordEvent(TSQLRecord& event, const std::string& existingCondition, std::initializer_list<TFmtArg> args,
                   TSQLRecord* existing = nullptr);

  const TTrackerTraits traits_;
  TPlinthTaskThread thread_;
  TSQLSettings settings_;
  IDBManagerPtr db_;
  ICourioDataStorePtr store_;

 private:
  TErrorFolder errors_;
  TRetryBackoff backoff_;
};

}  // namespace courio
