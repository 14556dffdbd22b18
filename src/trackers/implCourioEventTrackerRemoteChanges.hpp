#pragma once
// TCourioEventTrackerRemoteChanges: writes the cloud's delivery changes back
// into the POS. Each pass asks the cloud for the store's deliveries changed
// since the stored "LastSince" mark and, for every delivery that belongs to a
// POS invoice ("plinth-<number>"), applies the transitions later than that
// mark to INVOICES: the driver assignment (Driver, TimeToDrvr and the
// driver's attendance link DriverLink), the dispatch (TimeStampDriver) and
// the delivery (TIMEATCUST). Every applied transition is recorded as a
// RemoteEvent (types 1, 2, 3) with its outcome.
//
// Bookkeeping: "LastSince" takes the answer's own "since" mark only after the
// whole answer was processed (an answer without one leaves it alone);
// "LastCheck" is written by every pass that fetched an answer, whether it
// succeeded or not. A call that gave no answer writes nothing and is retried
// with the framework's back-off.
//
// Hostile answers (not JSON, no "deliveries" array, members of the wrong
// type, an unreadable "since") are rejected before anything is applied: the
// pass fails with a logged error and neither the POS nor "LastSince" change.
// A failing POS statement is logged, its RemoteEvent keeps AppliedStatus 0,
// and the pass goes on.
//
// Threads: as every tracker (CourioEventTracker.hpp); the cloud client and
// its transport are made per pass and used by the worker only.

#include <string>

#include "common/di/intfDI.hpp"
#include "trackers/CourioEventTracker.hpp"

namespace courio {

class TCourioEventTrackerRemoteChanges final : public TCourioEventTracker {
 public:
  TCourioEventTrackerRemoteChanges();
  ~TCourioEventTrackerRemoteChanges() override;

  // What LoadSettings read from the shared rows (for tests and diagnostics).
  const std::string& Url() const { return url_; }
  const std::string& Email() const { return email_; }
  long long StoreId() const { return storeId_; }

  struct TChange;  // one delivery change of an answer, checked and decoded

 protected:
  TJson NewRowValue(TDateTime now) override;
  void LoadSettings() override;
  bool Detect() override;
  bool LastCheckAfterFailure() override { return fetched_; }

 private:
  enum class TTransition { Assigned = 1, Dispatched = 2, Delivered = 3 };
  void Apply(const TChange& change, TTransition transition, TDateTime when);
  void RunStatements(const TChange& change, TTransition transition, TDateTime when);

  std::string url_;
  std::string email_;
  std::string password_;
  long long storeId_ = 0;
  bool fetched_ = false;  // this pass got an answer from the cloud
};

class TCourioEventTrackerRemoteChangesFactory final : public IPlinthInterfaceFactory {
 public:
  void CreateInstance(IInterfacePtr& instance) override;
};

// Adds / removes the named factory "RemoteChanges" for ICourioEventTracker.
void RegisterRemoteChangesTracker(IPlinthDI& di);
void UnregisterRemoteChangesTracker(IPlinthDI& di);

}  // namespace courio
