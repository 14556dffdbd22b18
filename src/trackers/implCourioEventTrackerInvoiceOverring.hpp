#pragma once
// The invoice-overring tracker: every ACTIVITY line with code 'EX040' and a
// text "Invoice <number> O/R" (not a cancel) numbered above "LastActivity",
// for a delivery invoice with a Status above 0, becomes an InvoiceEvent of
// type 4 ({"ActivityID": id}, stamped with the line's DATE), at most one per
// invoice. "LastActivity" moves past every line read; a new settings row is
// seeded from the highest ActivityID, so lines that exist at the first start
// are never reported. The invoice number is read with a guarded expression
// (InvoiceChangeStatements.hpp): no ACTIVITY text can make the statements
// fail.
//
// "LastCheck" is written only after a successful pass; a failed pass is
// retried with the framework's back-off (100 ms growing to the 10-second gap).
//
// Threads: as every tracker (CourioEventTracker.hpp).

#include "common/di/intfDI.hpp"
#include "trackers/CourioEventTracker.hpp"

namespace courio {

class TCourioEventTrackerInvoiceOverring final : public TCourioEventTracker {
 public:
  TCourioEventTrackerInvoiceOverring();
  ~TCourioEventTrackerInvoiceOverring() override { thread_.StopAndWait(); }

 protected:
  TJson NewRowValue(TDateTime now) override;
  void LoadSettings() override;
  void InitialiseTracker() override;
  bool Detect() override;

 private:
  long long LastActivity() const;
};

// Adds / removes the named factory "InvoiceOverring" for ICourioEventTracker.
void RegisterInvoiceOverringTracker(IPlinthDI& di);
void UnregisterInvoiceOverringTracker(IPlinthDI& di);

}  // namespace courio
