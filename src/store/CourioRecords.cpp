#include "store/CourioRecords.hpp"

#include <type_traits>

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

namespace {

// The three event tables share one shape: a key, the time, the type, the
// data, a status and the status's time.
template <class Key>
void BindEvent(sqlite3_stmt* s, int f, const Key& key, TDateTime time, int type, const std::string& data, int status,
               TDateTime statusTime) {
  if constexpr (std::is_same_v<Key, std::string>)
    BindText(s, f, key);
  else
    sqlite3_bind_int64(s, f, key);
  BindTime(s, f + 1, time);
  sqlite3_bind_int(s, f + 2, type);
  BindText(s, f + 3, data);
  sqlite3_bind_int(s, f + 4, status);
  BindTime(s, f + 5, statusTime);
}

template <class Key>
void LoadEvent(sqlite3_stmt* s, int f, Key& key, TDateTime& time, int& type, std::string& data, int& status,
               TDateTime& statusTime) {
  if constexpr (std::is_same_v<Key, std::string>)
    key = Text(s, f);
  else
    key = sqlite3_column_int64(s, f);
  time = Time(s, f + 1);
  type = sqlite3_column_int(s, f + 2);
  data = Text(s, f + 3);
  status = sqlite3_column_int(s, f + 4);
  statusTime = Time(s, f + 5);
}

std::vector<TColumn> EventColumns(const char* key, const char* keyType, const char* status, const char* statusTime) {
  return {{key, keyType},          {"Timestamp", "TEXT COLLATE ISO8601"}, {"EventType", "INTEGER"},
          {"EventData", "TEXT COLLATE NOCASE"}, {status, "INTEGER"}, {statusTime, "TEXT COLLATE ISO8601"}};
}

}  // namespace

const std::vector<TColumn>& TSQLInvoiceEvent::Columns() const {
  static const auto kColumns = EventColumns("InvoiceNum", "INTEGER", "UploadStatus", "UploadTimestamp");
  return kColumns;
}
void TSQLInvoiceEvent::Bind(sqlite3_stmt* s, int f) const {
  BindEvent(s, f, InvoiceNum, Timestamp, EventType, EventData, UploadStatus, UploadTimestamp);
}
void TSQLInvoiceEvent::Load(sqlite3_stmt* s, int f) {
  LoadEvent(s, f, InvoiceNum, Timestamp, EventType, EventData, UploadStatus, UploadTimestamp);
}

const std::vector<TColumn>& TSQLRemoteEvent::Columns() const {
  static const auto kColumns = EventColumns("InvoiceNum", "INTEGER", "AppliedStatus", "AppliedTimestamp");
  return kColumns;
}
void TSQLRemoteEvent::Bind(sqlite3_stmt* s, int f) const {
  BindEvent(s, f, InvoiceNum, Timestamp, EventType, EventData, AppliedStatus, AppliedTimestamp);
}
void TSQLRemoteEvent::Load(sqlite3_stmt* s, int f) {
  LoadEvent(s, f, InvoiceNum, Timestamp, EventType, EventData, AppliedStatus, AppliedTimestamp);
}

const std::vector<TColumn>& TSQLDriverEvent::Columns() const {
  static const auto kColumns = EventColumns("EmpNum", "TEXT COLLATE SYSTEMNOCASE", "UploadStatus", "UploadTimestamp");
  return kColumns;
}
void TSQLDriverEvent::Bind(sqlite3_stmt* s, int f) const {
  BindEvent(s, f, EmpNum, Timestamp, EventType, EventData, UploadStatus, UploadTimestamp);
}
void TSQLDriverEvent::Load(sqlite3_stmt* s, int f) {
  LoadEvent(s, f, EmpNum, Timestamp, EventType, EventData, UploadStatus, UploadTimestamp);
}

}  // namespace courio
