#pragma once
// TCourioEventTrackerDriverAssigned: every hand-over of an invoice to a
// driver in the POS (a new INVOICES.TimeToDrvr stamp) becomes an
// InvoiceEvent of type 2 carrying the invoice number, the time and the
// driver, for the uploader to tell the cloud who took the order.
//
// The tracker walks INVOICES by TimeToDrvr from its watermark
// "LastTimestamp" (whole seconds), starting at the watermark's own second so
// that a hand-over stamped in the same second as the last one handled is
// still found; a row whose invoice number and timestamp already have a
// type 2 event is skipped, so none is reported twice. Each event and the
// watermark past it are saved together.
//
// "LastCheck" is written after every pass that got past the 10-second gap,
// also after a failed one.
//
// Threads: as every tracker (CourioEventTracker.hpp).

#include "common/di/intfDI.hpp"
#include "trackers/CourioEventTracker.hpp"

namespace courio {

class TCourioEventTrackerDriverAssigned final : public TCourioEventTracker {
 public:
  TCourioEventTrackerDriverAssigned();
  ~TCourioEventTrackerDriverAssigned() override { thread_.StopAndWait(); }

 protected:
  TJson NewRowValue(TDateTime now) override;
  bool Detect() override;
};

// Adds / removes the named factory "DriverAssigned" for ICourioEventTracker.
void RegisterDriverAssignedTracker(IPlinthDI& di);
void UnregisterDriverAssignedTracker(IPlinthDI& di);

}  // namespace courio
