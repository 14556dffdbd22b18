#pragma once
// TCourioEventTrackerDriverEvents: watches the attendance of the active
// delivery drivers and records DriverEvents: 1 clocked in, 2 left the store
// (OnDelivery turned true), 3 back at the store (OnDelivery turned false).
//
// It compares the current attendance list (IPlinthAttend) with a snapshot
// of the list taken at Initialise or by the previous pass. A driver not in
// the snapshot yields nothing in the pass that first lists them. A clock-in
// is stamped with the attendance row's InDateTime, a departure or return
// with the time of the pass. OnDelivery null reads as not on delivery.
//
// Each driver's events and "LastTimestamp" are saved together, and that
// driver's snapshot entry moves forward at once, so a pass that fails half
// way never records a change twice. When Initialise could not take the
// snapshot, the first pass takes it and records nothing.
//
// "LastCheck" is written after every pass that got past the 10-second gap,
// also after a failed one.
//
// Threads: as every tracker (CourioEventTracker.hpp); the snapshot is
// touched by the backend's thread in Initialise and by the worker after.

#include <optional>
#include <vector>

#include "common/di/intfDI.hpp"
#include "trackers/CourioEventTracker.hpp"

namespace courio {

class TCourioEventTrackerDriverEvents final : public TCourioEventTracker {
 public:
  TCourioEventTrackerDriverEvents();
  ~TCourioEventTrackerDriverEvents() override { thread_.StopAndWait(); }

  // The list the next pass compares against; none before the first one was
  // taken. Not for use while the worker runs.
  const std::optional<TJson>& Snapshot() const { return snapshot_; }

 protected:
  TJson NewRowValue(TDateTime now) override;
  void InitialiseTracker() override;
  bool Detect() override;

 private:
  // The current attendance list through a new IPlinthAttend.
  TJson FetchAttendance();
  // Records one driver's events (with "LastTimestamp") in one transaction.
  void Record(std::vector<TSQLDriverEvent>& events);

  std::optional<TJson> snapshot_;
};

// Adds / removes the named factory "DriverEvents" for ICourioEventTracker.
void RegisterDriverEventsTracker(IPlinthDI& di);
void UnregisterDriverEventsTracker(IPlinthDI& di);

}  // namespace courio
