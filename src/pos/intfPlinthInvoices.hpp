#pragma once
// Folder pos: the POS data adapters: the order document built from an invoice, and driver
// attendance and employee access (intfPlinthAttend.hpp).
// May use: common (posdb for the statements). Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// Builds the order document (the JSON the cloud's order-creation call takes)
// for one POS invoice, from the invoice row, its line items and its customer.

#include <cstdint>
#include <memory>

#include "common/util/Json.hpp"
#include "common/posdb/intfDBManager.hpp"
#include "common/di/intfInterface.hpp"

namespace courio {

class IPlinthInvoices : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{64B46355-2AFF-4CCC-92C4-9496A925CF0A}");
  // Keeps the caller's POS connection and the cloud's store id.
  virtual void Configure(IDBManagerPtr db, int32_t storeId) = 0;
  // Builds the document; raises when the invoice, its line items or its
  // customer is missing, a required value is null, or Configure was not called.
  virtual void GetInvoiceData(int32_t invoiceNum, TJson& data) = 0;
};
using IPlinthInvoicesPtr = std::shared_ptr<IPlinthInvoices>;

}  // namespace courio
