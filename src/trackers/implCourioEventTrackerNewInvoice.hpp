#pragma once
// The new-invoice tracker: every delivery invoice (TransType 3) numbered above
// "LastInvoice" becomes an InvoiceEvent of type 1 carrying its order document.

#include "common/di/intfDI.hpp"
#include "pos/intfPlinthInvoices.hpp"
#include "trackers/CourioEventTracker.hpp"

namespace courio {

class TCourioEventTrackerNewInvoice final : public TCourioEventTracker {
 public:
  TCourioEventTrackerNewInvoice();
  ~TCourioEventTrackerNewInvoice() override { thread_.StopAndWait(); }

 protected:
  TJson NewRowValue(TDateTime now) override;
  void LoadSettings() override;
  void InitialiseTracker() override;
  bool Detect() override;

 private:
  long long LastInvoice() const;

  TSQLSettings storeRow_;
  IPlinthInvoicesPtr invoices_;
};

void RegisterNewInvoiceTracker(IPlinthDI& di);
void UnregisterNewInvoiceTracker(IPlinthDI& di);

}  // namespace courio
