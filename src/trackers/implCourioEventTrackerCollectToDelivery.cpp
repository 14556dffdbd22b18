#include "trackers/implCourioEventTrackerCollectToDelivery.hpp"

#include "common/di/clsDIFactory.hpp"
#include "common/util/Errors.hpp"

namespace courio {

TCourioEventTrackerCollectToDelivery::TCourioEventTrackerCollectToDelivery()
    : TCourioEventTrackerTransition({{"CollectToDelivery", "TCourioEventTrackerCollectToDelivery",
                                      "NAME = 'CollectToDelivery' ", 15, true},
                                     &CollectToDeliveryStatements(),
                                     1,
                                     "InvoiceNum = %"}) {}

void TCourioEventTrackerCollectToDelivery::LoadSettings() {
  TCourioEventTrackerTransition::LoadSettings();
  store_->GetORM().Retrieve("NAME = 'Store' ", {}, storeRow_);
}

void TCourioEventTrackerCollectToDelivery::InitialiseTracker() {
  try {
    bool made = PlinthDI().CreateInstance(invoices_);
    Assert(made, "Could not make IPlinthInvoices", "implCourioEventTrackerCollectToDelivery", __LINE__);
    if (storeRow_.ID == 0) throw std::runtime_error("No \"Store\" settings row: the store id is unknown");
    invoices_->Configure(db_, static_cast<int32_t>(JsonAsInt(JsonGet(storeRow_.Value, "id"))));
  } catch (const std::exception& e) {
    LogError("Initialise", e.what());
  }
}

void TCourioEventTrackerCollectToDelivery::CountFound(int count) {
  LogInfo("ThreadTask", "Count : " + std::to_string(count));
  if (count > 0) LogInfo("ThreadTask", "Getting the invoices");
}

void TCourioEventTrackerCollectToDelivery::RowFound(long long invoiceNum) {
  LogInfo("ThreadTask", "Invoice : " + std::to_string(invoiceNum));
}

void TCourioEventTrackerCollectToDelivery::FillEvent(TSQLInvoiceEvent& event, const IDBQuery& row) {
  if (!invoices_) throw std::runtime_error("No invoice builder");
  TJson document;
  invoices_->GetInvoiceData(static_cast<int32_t>(event.InvoiceNum), document);
  event.Timestamp = row.AsDateTime("Date");
  event.EventData = JsonDump(document);
}

void RegisterCollectToDeliveryTracker(IPlinthDI& di) {
  di.AddNamedFactory(ICourioEventTracker::IID, "CollectToDelivery",
                     MakeFactory<TCourioEventTrackerCollectToDelivery>());
}
void UnregisterCollectToDeliveryTracker(IPlinthDI& di) {
  di.RemoveNamedFactory(ICourioEventTracker::IID, "CollectToDelivery");
}

}  // namespace courio
