#pragma once
// TCourioEventTrackerRemoteDriverChanges: carries the cloud's driver status
// changes into the POS attendance. Each pass asks the cloud for the store's
// drivers whose status changed since "LastSince"; for every POS driver
// ("PLINTH_<employee number>"):
//   - status 0 (at the store): clocks the driver in (IPlinthAttend) with the
//     cloud's status time when the driver has no attendance row in the
//     business day or is clocked out, then clears OnDelivery on the row;
//   - status 2 (on the road): sets OnDelivery on the driver's row (a driver
//     without a row today is left without one);
//   - any other status: nothing.
// It records no events.
//
// Bookkeeping: "LastSince" takes the answer's "since" only after every
// change was handled (an answer without one leaves it alone); "LastCheck"
// is written by every pass that got an answer. A pass that got no answer
// (the call failed, or the attendance could not be prepared) writes nothing
// and is retried with the framework's back-off. An answer that is not JSON
// is dropped without a message; one without a "changes" array, with
// members of the wrong type or an error status fails the pass before
// anything is applied.
//
// Threads: as every tracker (CourioEventTracker.hpp); the cloud client, its
// transport and the attendance component are made per pass.

#include <optional>
#include <string>

#include "common/di/intfDI.hpp"
#include "trackers/CourioEventTracker.hpp"

namespace courio {

class IPlinthAttend;

class TCourioEventTrackerRemoteDriverChanges final : public TCourioEventTracker {
 public:
  TCourioEventTrackerRemoteDriverChanges();
  ~TCourioEventTrackerRemoteDriverChanges() override { thread_.StopAndWait(); }

  // What LoadSettings read from the shared rows (for tests and diagnostics).
  const std::string& Url() const { return url_; }
  const std::string& Email() const { return email_; }
  long long StoreId() const { return storeId_; }

 protected:
  TJson NewRowValue(TDateTime now) override;
  void LoadSettings() override;
  bool Detect() override;
  bool LastCheckAfterFailure() override { return fetched_; }

 private:
  struct TChange {
    std::string empNum;                   // external id without "PLINTH_"
    long long status = -1;                // 0 or 2 (others are not kept)
    std::optional<TDateTime> statusTime;  // "timestamp_status"
    size_t index = 0;                     // place in the answer
  };
  void Apply(IPlinthAttend& attend, const TChange& change);
  void SetOnDelivery(const TJson& row, const std::string& empNum, bool onDelivery);

  std::string url_;
  std::string email_;
  std::string password_;
  long long storeId_ = 0;
  bool fetched_ = false;  // this pass got an answer from the cloud
};

// Adds / removes the named factory "RemoteDriverChanges" for ICourioEventTracker.
void RegisterRemoteDriverChangesTracker(IPlinthDI& di);
void UnregisterRemoteDriverChangesTracker(IPlinthDI& di);

}  // namespace courio
