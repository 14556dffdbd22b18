#include "trackers/implCourioEventTrackerDriverAssigned.hpp"

#include <stdexcept>

#include "common/di/clsDIFactory.hpp"
#include "trackers/CloudAnswer.hpp"

namespace courio {
namespace {

const char* const kCountQuery = "SELECT COUNT(1) InvoiceCount FROM INVOICES WHERE [TimeToDrvr] >= %s";
const char* const kRowsQuery =
    "SELECT InvoiceNum, TimeToDrvr AS TimeStamp, Driver AS DriverEmpnum FROM INVOICES WHERE [TimeToDrvr] >= %s "
    "ORDER BY [TimeToDrvr]";
// A hand-over already reported: the same invoice stamped in the same second.
const char* const kReported = "InvoiceNum = ? AND EventType = 2 AND Timestamp = ?";

}  // namespace

TCourioEventTrackerDriverAssigned::TCourioEventTrackerDriverAssigned()
    : TCourioEventTracker({"DriverAssigned", "TCourioEventTrackerDriverAssigned", "NAME='DriverAssigned'", 10, true}) {}

TJson TCourioEventTrackerDriverAssigned::NewRowValue(TDateTime now) {
  return {{"LastCheck", DateTimeToIso(now - 1)}, {"LastTimestamp", DateTimeToIso(DateOf(now))}};
}

bool TCourioEventTrackerDriverAssigned::Detect() {
  if (!db_) throw std::runtime_error("No point-of-sale connection");
  const std::string lastText = JsonAsText(JsonGet(settings_.Value, "LastTimestamp"));
  TDateTime last = 0;
  if (!TryIsoToDateTime(lastText, last))
    throw std::invalid_argument("\"LastTimestamp\" is not a date-time : '" + lastText + "'");
  const std::string from = db_->DateTimeToSQL(TruncToSecond(last));

  const int count = db_->QueryInteger(FormatFmt(kCountQuery, {from}), "InvoiceCount");
  LogInfo("ThreadTask", "New Invoice Count : " + std::to_string(count));
  if (count <= 0) return true;

  std::string json;
  db_->QueryJSONFmt(kRowsQuery, {from}, json);
  TJson rows;
  if (!TryParseJson(json, rows) || !(rows.is_array() || rows.is_null()))
    throw std::runtime_error("The hand-overs could not be read : " + ShortenForLog(json));
  // No row ("null"): the hand-overs counted were changed meanwhile.
  if (rows.is_null()) return true;

  for (const TJson& row : rows) {
    const long long invoiceNum = JsonAsInt(JsonGet(row, "InvoiceNum"));
    const TDateTime stamp = TruncToSecond(IsoToDateTime(JsonAsStrictText(JsonGet(row, "TimeStamp"), "TimeStamp")));
    TSQLInvoiceEvent event;
    event.UploadStatus = 0;
    event.InvoiceNum = invoiceNum;
    event.Timestamp = stamp;
    event.EventType = 2;
    event.EventData = JsonDump(row);
    TSQLSettings next = settings_;
    if (stamp > last) next.Value["LastTimestamp"] = DateTimeToIso(stamp);
    store_->GetORM().InTransaction([&] {
      RecordEvent(event, kReported, {invoiceNum, DateTimeToIso(stamp)});
      store_->GetORM().Update(next);
    });
    settings_ = std::move(next);
    if (stamp > last) last = stamp;
  }
  return true;
}

void RegisterDriverAssignedTracker(IPlinthDI& di) {
  di.AddNamedFactory(ICourioEventTracker::IID, "DriverAssigned", MakeFactory<TCourioEventTrackerDriverAssigned>());
}

void UnregisterDriverAssignedTracker(IPlinthDI& di) {
  di.RemoveNamedFactory(ICourioEventTracker::IID, "DriverAssigned");
}

}  // namespace courio
