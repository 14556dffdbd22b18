#pragma once
// What the two collect/delivery transition trackers share: they read the POS
// audit table InvoicesAudit from a watermark ("LastTimestamp") on, take the
// rows whose invoice now has one TransType while the audit row kept the other,
// and record one InvoiceEvent per invoice unless the store already holds one
// matching the tracker's condition.
//
// Watermark: audit rows are read from the watermark's own second on, so a row
// audited in the same second as the last one handled, but written after the
// pass, is still seen; rows read again are skipped by the existing-event
// condition. After each row the watermark becomes the Timestamp of the event
// (the new one, or the one already stored), but never later than the audit
// row itself, so it cannot pass audit rows not read yet. A new settings row
// starts it at the second after the first start: rows audited in the first
// start's own second cannot be told apart (before or after the start) and are
// not reported.
//
// "LastCheck" is written after every pass, also a failed one, so a failing
// pass is retried after the 15-second gap.
//
// Threads: as every tracker (CourioEventTracker.hpp).

#include <string>

#include "trackers/CourioEventTracker.hpp"
#include "trackers/InvoiceChangeStatements.hpp"

namespace courio {

class TCourioEventTrackerTransition : public TCourioEventTracker {
 protected:
  struct TKind {
    TTrackerTraits traits;
    const TTransitionStatements* statements;
    int eventType;                  // the InvoiceEvent type recorded
    std::string existingCondition;  // "%" is the invoice number
  };
  explicit TCourioEventTrackerTransition(TKind kind);

  TJson NewRowValue(TDateTime now) override;
  bool Detect() override;

  // Hooks for the tracker's own log lines.
  virtual void CountFound(int /*count*/) {}
  virtual void RowFound(long long /*invoiceNum*/) {}
  // Fills Timestamp and EventData of a new event from the detail row; may
  // query the POS (before the store is touched). Errors fail the pass.
  virtual void FillEvent(TSQLInvoiceEvent& event, const IDBQuery& row) = 0;

 private:
  void HandleRow(const IDBQuery& row);

  const TKind kind_;
};

}  // namespace courio
