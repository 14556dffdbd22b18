#pragma once
// The collect-to-delivery tracker: a collection invoice turned into a delivery
// (InvoicesAudit row keeping TransType 2, invoice now 3) becomes an
// InvoiceEvent of type 1 carrying its order document, exactly like a new
// delivery, unless the store already holds an event of any type for the
// invoice (the new-invoice tracker may have reported it). Watermark and
// bookkeeping: TransitionTracker.hpp.
//
// Log lines: the count of every pass, "Getting the invoices" and each invoice
// read.

#include "common/di/intfDI.hpp"
#include "pos/intfPlinthInvoices.hpp"
#include "trackers/TransitionTracker.hpp"

namespace courio {

class TCourioEventTrackerCollectToDelivery final : public TCourioEventTrackerTransition {
 public:
  TCourioEventTrackerCollectToDelivery();
  ~TCourioEventTrackerCollectToDelivery() override { thread_.StopAndWait(); }

 protected:
  void LoadSettings() override;
  void InitialiseTracker() override;
  void CountFound(int count) override;
  void RowFound(long long invoiceNum) override;
  void FillEvent(TSQLInvoiceEvent& event, const IDBQuery& row) override;

 private:
  TSQLSettings storeRow_;
  IPlinthInvoicesPtr invoices_;
};

// Adds / removes the named factory "CollectToDelivery" for ICourioEventTracker.
void RegisterCollectToDeliveryTracker(IPlinthDI& di);
void UnregisterCollectToDeliveryTracker(IPlinthDI& di);

}  // namespace courio
