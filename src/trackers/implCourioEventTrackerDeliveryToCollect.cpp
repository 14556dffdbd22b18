#include "trackers/implCourioEventTrackerDeliveryToCollect.hpp"

#include "common/di/clsDIFactory.hpp"

namespace courio {

TCourioEventTrackerDeliveryToCollect::TCourioEventTrackerDeliveryToCollect()
    : TCourioEventTrackerTransition({{"DeliveryToCollect", "TCourioEventTrackerDeliveryToCollect",
                                      "NAME = 'DeliveryToCollect' ", 15, true},
                                     &DeliveryToCollectStatements(),
                                     3,
                                     "InvoiceNum = % AND EventType = 3"}) {}

void TCourioEventTrackerDeliveryToCollect::FillEvent(TSQLInvoiceEvent& event, const IDBQuery& row) {
  event.Timestamp = row.AsDateTime("Timestamp");
  event.EventData.clear();
}

void RegisterDeliveryToCollectTracker(IPlinthDI& di) {
  di.AddNamedFactory(ICourioEventTracker::IID, "DeliveryToCollect",
                     MakeFactory<TCourioEventTrackerDeliveryToCollect>());
}
void UnregisterDeliveryToCollectTracker(IPlinthDI& di) {
  di.RemoveNamedFactory(ICourioEventTracker::IID, "DeliveryToCollect");
}

}  // namespace courio
