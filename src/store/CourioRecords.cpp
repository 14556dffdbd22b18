#include "store/CourioRecords.hpp"

namespace courio {
namespace {

void BindText(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}
void BindTime(sqlite3_stmt* s, int i, TDateTime v) { BindText(s, i, v == 0 ? std::string() : DateTimeToIso(v)); }

std::string Text(sqlite3_stmt* s, int i) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return t ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
}
TDateTime Time(sqlite3_stmt* s, int i) {
  TDateTime v = 0;
  return TryIsoToDateTime(Text(s, i), v) ? v : 0;
}
TJson JsonObject(sqlite3_stmt* s, int i) {
  TJson v;
  return TryParseJson(Text(s, i), v) && v.is_object() ? v : TJson::object();
}

}  // namespace

std::string TSQLRecord::CreateStatement() const {
  std::string sql = std::string("CREATE TABLE ") + TableName() + "(ID INTEGER PRIMARY KEY AUTOINCREMENT";
  for (const auto& c : Columns()) sql += std::string(", ") + c.name + " " + c.type;
  return sql + ");";
}

const std::vector<TColumn>& TSQLSettings::Columns() const {
  static const std::vector<TColumn> kColumns = {{"Name", "TEXT COLLATE SYSTEMNOCASE"}, {"Value", "TEXT COLLATE NOCASE"}};
  return kColumns;
}
void TSQLSettings::Bind(sqlite3_stmt* s, int f) const {
  BindText(s, f, Name);
  BindText(s, f + 1, JsonDump(Value));
}
void TSQLSettings::Load(sqlite3_stmt* s, int f) {
  Name = Text(s, f);
  Value = JsonObject(s, f + 1);
}

const std::vector<TColumn>& TSQLInvoiceEvent::Columns() const {
  static const std::vector<TColumn> kColumns = {
      {"InvoiceNum", "INTEGER"},           {"Timestamp", "TEXT COLLATE ISO8601"},
      {"EventType", "INTEGER"},            {"EventData", "TEXT COLLATE NOCASE"},
      {"UploadStatus", "INTEGER"},         {"UploadTimestamp", "TEXT COLLATE ISO8601"}};
  return kColumns;
}
void TSQLInvoiceEvent::Bind(sqlite3_stmt* s, int f) const {
  sqlite3_bind_int64(s, f, InvoiceNum);
  BindTime(s, f + 1, Timestamp);
  sqlite3_bind_int(s, f + 2, EventType);
  BindText(s, f + 3, EventData);
  sqlite3_bind_int(s, f + 4, UploadStatus);
  BindTime(s, f + 5, UploadTimestamp);
}
void TSQLInvoiceEvent::Load(sqlite3_stmt* s, int f) {
  InvoiceNum = sqlite3_column_int64(s, f);
  Timestamp = Time(s, f + 1);
  EventType = sqlite3_column_int(s, f + 2);
  EventData = Text(s, f + 3);
  UploadStatus = sqlite3_column_int(s, f + 4);
  UploadTimestamp = Time(s, f + 5);
}

const std::vector<TColumn>& TSQLRemoteEvent::Columns() const {
  static const std::vector<TColumn> kColumns = {
      {"InvoiceNum", "INTEGER"},           {"Timestamp", "TEXT COLLATE ISO8601"},
      {"EventType", "INTEGER"},            {"EventData", "TEXT COLLATE NOCASE"},
      {"AppliedStatus", "INTEGER"},        {"AppliedTimestamp", "TEXT COLLATE ISO8601"}};
  return kColumns;
}
void TSQLRemoteEvent::Bind(sqlite3_stmt* s, int f) const {
  sqlite3_bind_int64(s, f, InvoiceNum);
  BindTime(s, f + 1, Timestamp);
  sqlite3_bind_int(s, f + 2, EventType);
  BindText(s, f + 3, EventData);
  sqlite3_bind_int(s, f + 4, AppliedStatus);
  BindTime(s, f + 5, AppliedTimestamp);
}
void TSQLRemoteEvent::Load(sqlite3_stmt* s, int f) {
  InvoiceNum = sqlite3_column_int64(s, f);
  Timestamp = Time(s, f + 1);
  EventType = sqlite3_column_int(s, f + 2);
  EventData = Text(s, f + 3);
  AppliedStatus = sqlite3_column_int(s, f + 4);
  AppliedTimestamp = Time(s, f + 5);
}

const std::vector<TColumn>& TSQLDriverEvent::Columns() const {
  static const std::vector<TColumn> kColumns = {
      {"EmpNum", "TEXT COLLATE SYSTEMNOCASE"}, {"Timestamp", "TEXT COLLATE ISO8601"},
      {"EventType", "INTEGER"},                {"EventData", "TEXT COLLATE NOCASE"},
      {"UploadStatus", "INTEGER"},             {"UploadTimestamp", "TEXT COLLATE ISO8601"}};
  return kColumns;
}
void TSQLDriverEvent::Bind(sqlite3_stmt* s, int f) const {
  BindText(s, f, EmpNum);
  BindTime(s, f + 1, Timestamp);
  sqlite3_bind_int(s, f + 2, EventType);
  BindText(s, f + 3, EventData);
  sqlite3_bind_int(s, f + 4, UploadStatus);
  BindTime(s, f + 5, UploadTimestamp);
}
void TSQLDriverEvent::Load(sqlite3_stmt* s, int f) {
  EmpNum = Text(s, f);
  Timestamp = Time(s, f + 1);
  EventType = sqlite3_column_int(s, f + 2);
  EventData = Text(s, f + 3);
  UploadStatus = sqlite3_column_int(s, f + 4);
  UploadTimestamp = Time(s, f + 5);
}

}  // namespace courio
