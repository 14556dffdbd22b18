#pragma once
// TPlinthInvoices: three POS queries per document, no cache. Used by one
// tracker thread; no lock.

#include "common/di/intfDI.hpp"
#include "pos/intfPlinthInvoices.hpp"

namespace courio {

class TPlinthInvoices final : public IPlinthInvoices {
 public:
  void Configure(IDBManagerPtr db, int32_t storeId) override;
  void GetInvoiceData(int32_t invoiceNum, TJson& data) override;

  // TimeDue is the delivery moment when it differs from Date by more than
  // this; otherwise Date is.
  static constexpr double kDueToleranceMinutes = 12.5;

 private:
  IDBManagerPtr db_;
  int32_t storeId_ = 0;
};

void RegisterPlinthInvoices(IPlinthDI& di);
void UnregisterPlinthInvoices(IPlinthDI& di);

}  // namespace courio
