#include "trackers/TransitionTracker.hpp"

#include <stdexcept>

namespace courio {

TCourioEventTrackerTransition::TCourioEventTrackerTransition(TKind kind)
    : TCourioEventTracker(kind.traits), kind_(std::move(kind)) {}

TJson TCourioEventTrackerTransition::NewRowValue(TDateTime now) {
  return {{"LastCheck", DateTimeToIso(now - 1)}, {"LastTimestamp", DateTimeToIso(IncSecond(TruncToSecond(now), 1))}};
}

bool TCourioEventTrackerTransition::Detect() {
  if (!db_) throw std::runtime_error("No point-of-sale connection");
  const std::string watermark = db_->DateTimeToSQL(IsoToDateTime(JsonAsText(JsonGet(settings_.Value, "LastTimestamp"))));
  int count = db_->QueryInteger(FormatFmt(kind_.statements->count, {watermark}), "InvoiceCount");
  CountFound(count);
  if (count <= 0) return true;

  TDBQuery query;
  db_->OpenQueryFmt(kind_.statements->detail, {watermark}, query);
  struct TFree {
    IDBManager& db;
    TDBQuery& q;
    ~TFree() { db.FreeQuery(q); }
  } release{*db_, query};
  for (; !query->Eof(); query->Next()) HandleRow(*query);
  return true;
}

void TCourioEventTrackerTransition::HandleRow(const IDBQuery& row) {
  const long long invoiceNum = row.AsInteger("InvoiceNum");
  const TDateTime audited = row.AsDateTime("TimeStamp");
  RowFound(invoiceNum);

  TSQLInvoiceEvent existing;
  const bool known = store_->GetORM().Retrieve(kind_.existingCondition, {invoiceNum}, existing);
  TSQLInvoiceEvent event;
  if (!known) {
    event.UploadStatus = 0;
    event.InvoiceNum = invoiceNum;
    event.EventType = kind_.eventType;
    FillEvent(event, row);
  }
  // The event and the watermark past its row are saved together; the row in
  // memory moves only once both are. Another tracker may have recorded the
  // invoice meanwhile: the insert checks again.
  TSQLSettings next = settings_;
  store_->GetORM().InTransaction([&] {
    bool inserted = !known && RecordEvent(event, kind_.existingCondition, {invoiceNum}, &existing);
    TDateTime stamp = inserted ? event.Timestamp : existing.Timestamp;
    if (stamp == 0 || stamp > audited) stamp = audited;  // an event without a time, or a later one
    next.Value["LastTimestamp"] = DateTimeToIso(stamp);
    store_->GetORM().Update(next);
  });
  settings_ = std::move(next);
}

}  // namespace courio
