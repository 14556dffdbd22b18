#include "trackers/implCourioEventTrackerNewInvoice.hpp"

#include "common/util/Errors.hpp"
#include "common/di/clsDIFactory.hpp"

namespace courio {

TCourioEventTrackerNewInvoice::TCourioEventTrackerNewInvoice()
    : TCourioEventTracker({"NewInvoice", "TCourioEventTrackerNewInvoice", "NAME = 'NewInvoice' ", 10, false}) {}

TJson TCourioEventTrackerNewInvoice::NewRowValue(TDateTime now) {
  return {{"LastInvoice", -1}, {"LastCheck", DateTimeToIso(now - 1)}};
}

long long TCourioEventTrackerNewInvoice::LastInvoice() const {
  return JsonAsInt(JsonGet(settings_.Value, "LastInvoice"));
}

void TCourioEventTrackerNewInvoice::LoadSettings() {
  try {
    TCourioEventTracker::LoadSettings();
    if (LastInvoice() == -1) {
      // The invoices that exist at the first start are never reported.
      if (!db_) throw std::runtime_error("No point-of-sale connection to seed LastInvoice");
      settings_.Value["LastInvoice"] =
          db_->QueryInteger("SELECT ISNULL( MAX( InvoiceNum ), -1 ) AS LastInvoiceNum FROM INVOICES", "LastInvoiceNum");
      SaveSettings();
    }
    store_->GetORM().Retrieve("NAME = 'Store' ", {}, storeRow_);
  } catch (const std::exception& e) {
    LogError("LoadSettings", e.what());
  }
}

void TCourioEventTrackerNewInvoice::InitialiseTracker() {
  try {
    bool made = PlinthDI().CreateInstance(invoices_);
    Assert(made, "Could not make IPlinthInvoices", "implCourioEventTrackerNewInvoice", __LINE__);
    if (storeRow_.ID == 0) throw std::runtime_error("No \"Store\" settings row: the store id is unknown");
    invoices_->Configure(db_, static_cast<int32_t>(JsonAsInt(JsonGet(storeRow_.Value, "id"))));
  } catch (const std::exception& e) {
    LogError("Initialise", e.what());
  }
  LogInfo("Initialise", "Last Invoice : " + JsonAsText(JsonGet(settings_.Value, "LastInvoice")));
}

bool TCourioEventTrackerNewInvoice::Detect() {
  if (!db_) throw std::runtime_error("No point-of-sale connection");
  long long last = LastInvoice();
  int count = db_->QueryInteger(
      FormatFmt("SELECT COUNT(1) AS InvoiceCount FROM INVOICES WHERE INVOICENUM > %d AND TransType = 3", {last}),
      "InvoiceCount");
  LogInfo("ThreadTask", "Invoice Count : " + std::to_string(count));
  if (count <= 0) return true;

  TDBQuery query;
  db_->OpenQueryFmt(
      "SELECT InvoiceNum, AfterDisc, Date, CustLink FROM INVOICES WHERE INVOICENUM > %d AND TRANSTYPE = 3 "
      "ORDER BY INVOICENUM",
      {last}, query);
  struct TFree {
    IDBManager& db;
    TDBQuery& q;
    ~TFree() { db.FreeQuery(q); }
  } release{*db_, query};

  for (; !query->Eof(); query->Next()) {
    long long invoiceNum = query->AsInteger("InvoiceNum");
    TSQLInvoiceEvent event;
    TSQLInvoiceEvent existing;
    bool known = store_->GetORM().Retrieve("InvoiceNum = %", {invoiceNum}, existing);
    if (!known) {
      // The document comes from the POS before the store is touched.
      if (!invoices_) throw std::runtime_error("No invoice builder");
      TJson document;
      invoices_->GetInvoiceData(static_cast<int32_t>(invoiceNum), document);
      event.UploadStatus = 0;
      event.InvoiceNum = invoiceNum;
      event.Timestamp = query->AsDateTime("Date");
      event.EventType = 1;
      event.EventData = JsonDump(document);
    }
    // The event and the progress past it are saved together, and the row in
    // memory moves only once both are. Another tracker may have recorded the
    // invoice meanwhile: the insert checks again.
    TSQLSettings next = settings_;
    next.Value["LastInvoice"] = invoiceNum;
    store_->GetORM().InTransaction([&] {
      if (!known) RecordEvent(event, "InvoiceNum = %", {invoiceNum});
      store_->GetORM().Update(next);
    });
    settings_ = std::move(next);
  }
  return true;
}

void RegisterNewInvoiceTracker(IPlinthDI& di) {
  di.AddNamedFactory(ICourioEventTracker::IID, "NewInvoice", MakeFactory<TCourioEventTrackerNewInvoice>());
}
void UnregisterNewInvoiceTracker(IPlinthDI& di) { di.RemoveNamedFactory(ICourioEventTracker::IID, "NewInvoice"); }

}  // namespace courio
