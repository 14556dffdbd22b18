#pragma once
// The delivery-to-collect tracker: a delivery invoice turned into a collection
// (InvoicesAudit row keeping TransType 3, invoice now 2) becomes an
// InvoiceEvent of type 3 stamped with the audit row's time, at most one per
// invoice. Watermark and bookkeeping: TransitionTracker.hpp. It logs only its
// errors.

#include "common/di/intfDI.hpp"
#include "trackers/TransitionTracker.hpp"

namespace courio {

class TCourioEventTrackerDeliveryToCollect final : public TCourioEventTrackerTransition {
 public:
  TCourioEventTrackerDeliveryToCollect();
  ~TCourioEventTrackerDeliveryToCollect() override { thread_.StopAndWait(); }

 protected:
  void FillEvent(TSQLInvoiceEvent& event, const IDBQuery& row) override;
};

// Adds / removes the named factory "DeliveryToCollect" for ICourioEventTracker.
void RegisterDeliveryToCollectTracker(IPlinthDI& di);
void UnregisterDeliveryToCollectTracker(IPlinthDI& di);

}  // namespace courio
