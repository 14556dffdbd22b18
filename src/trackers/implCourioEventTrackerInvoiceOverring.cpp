#include "trackers/implCourioEventTrackerInvoiceOverring.hpp"

#include <stdexcept>

#include "common/di/clsDIFactory.hpp"
#include "trackers/InvoiceChangeStatements.hpp"

namespace courio {

TCourioEventTrackerInvoiceOverring::TCourioEventTrackerInvoiceOverring()
    : TCourioEventTracker(
          {"InvoiceOverring", "TCourioEventTrackerInvoiceOverring", "NAME = 'InvoiceOverring' ", 10, false}) {}

TJson TCourioEventTrackerInvoiceOverring::NewRowValue(TDateTime now) {
  return {{"LastActivity", -1}, {"LastCheck", DateTimeToIso(now - 1)}};
}

long long TCourioEventTrackerInvoiceOverring::LastActivity() const {
  return JsonAsInt(JsonGet(settings_.Value, "LastActivity"));
}

void TCourioEventTrackerInvoiceOverring::LoadSettings() {
  try {
    TCourioEventTracker::LoadSettings();
    if (LastActivity() == -1) {
      // The activity lines that exist at the first start are never reported.
      if (!db_) throw std::runtime_error("No point-of-sale connection to seed LastActivity");
      settings_.Value["LastActivity"] =
          db_->QueryInteger("SELECT ISNULL( MAX( ActivityID ), -1 ) AS LastActivity FROM ACTIVITY", "LastActivity");
      SaveSettings();
    }
  } catch (const std::exception& e) {
    LogError("LoadSettings", e.what());
  }
}

void TCourioEventTrackerInvoiceOverring::InitialiseTracker() {
  LogInfo("Initialise", "Last ActivityID : " + JsonAsText(JsonGet(settings_.Value, "LastActivity")));
}

bool TCourioEventTrackerInvoiceOverring::Detect() {
  if (!db_) throw std::runtime_error("No point-of-sale connection");
  const long long last = LastActivity();
  int count = db_->QueryInteger(FormatFmt(OverringCountStatement(), {last}), "InvoiceCount");
  if (count <= 0) return true;
  LogInfo("ThreadTask", "Invoice Count : " + std::to_string(count));

  TDBQuery query;
  db_->OpenQueryFmt(OverringDetailStatement(), {last}, query);
  struct TFree {
    IDBManager& db;
    TDBQuery& q;
    ~TFree() { db.FreeQuery(q); }
  } release{*db_, query};

  for (; !query->Eof(); query->Next()) {
    const long long invoiceNum = query->AsInteger("INVOICENUM");
    const long long activityId = query->AsInteger("ACTIVITYID");
    TSQLInvoiceEvent event;
    event.UploadStatus = 0;
    event.InvoiceNum = invoiceNum;
    event.Timestamp = query->AsDateTime("DATE");
    event.EventType = 4;
    event.EventData = JsonDump(TJson{{"ActivityID", activityId}});
    // The event and the progress past its line are saved together; the row
    // in memory moves only once both are.
    TSQLSettings next = settings_;
    next.Value["LastActivity"] = activityId;
    store_->GetORM().InTransaction([&] {
      RecordEvent(event, "InvoiceNum = % AND EventType = 4", {invoiceNum});
      store_->GetORM().Update(next);
    });
    settings_ = std::move(next);
  }
  return true;
}

void RegisterInvoiceOverringTracker(IPlinthDI& di) {
  di.AddNamedFactory(ICourioEventTracker::IID, "InvoiceOverring", MakeFactory<TCourioEventTrackerInvoiceOverring>());
}
void UnregisterInvoiceOverringTracker(IPlinthDI& di) {
  di.RemoveNamedFactory(ICourioEventTracker::IID, "InvoiceOverring");
}

}  // namespace courio
