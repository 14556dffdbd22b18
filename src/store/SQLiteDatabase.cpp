#include "store/SQLiteDatabase.hpp"

#include <cstring>

#include "common/util/DateTime.hpp"
#include "common/util/Json.hpp"

namespace courio {
namespace {

// Text compared without regard to case: ASCII letters folded, other bytes
// compared as they are.
int SystemNoCase(void*, int len1, const void* a, int len2, const void* b) {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  int n = len1 < len2 ? len1 : len2;
  for (int i = 0; i < n; ++i) {
    unsigned char cx = x[i] >= 'a' && x[i] <= 'z' ? x[i] - 32 : x[i];
    unsigned char cy = y[i] >= 'a' && y[i] <= 'z' ? y[i] - 32 : y[i];
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  return len1 == len2 ? 0 : (len1 < len2 ? -1 : 1);
}

// ISO 8601 texts compared as date-times; texts that are not dates compare
// as bytes after every date (and empty texts first).
int Iso8601(void*, int len1, const void* a, int len2, const void* b) {
  std::string_view x(static_cast<const char*>(a), static_cast<size_t>(len1));
  std::string_view y(static_cast<const char*>(b), static_cast<size_t>(len2));
  TDateTime dx, dy;
  bool okx = TryIsoToDateTime(x, dx), oky = TryIsoToDateTime(y, dy);
  if (okx && oky) return dx < dy ? -1 : (dx > dy ? 1 : 0);
  if (okx != oky) return okx ? -1 : 1;
  int c = x.compare(y);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

TSQLiteDatabase::TSQLiteDatabase(const std::string& fileName) : fileName_(fileName) {
  int rc = sqlite3_open_v2(fileName.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  try {
    Check(rc, "open");
    sqlite3_busy_timeout(db_, 5000);
    sqlite3_extended_result_codes(db_, 1);
    Check(sqlite3_create_collation(db_, "SYSTEMNOCASE", SQLITE_UTF8, nullptr, SystemNoCase), "register SYSTEMNOCASE");
    Check(sqlite3_create_collation(db_, "ISO8601", SQLITE_UTF8, nullptr, Iso8601), "register ISO8601");
    // Reading the schema is the first access: a file that is not a database
    // fails here, before anything is written to it.
    Execute("SELECT count(*) FROM sqlite_master");
    // WAL keeps readers and the single writer apart; FULL makes every
    // committed row survive a power loss (events are few, durability matters).
    Execute("PRAGMA journal_mode=WAL");
    Execute("PRAGMA synchronous=FULL");
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

TSQLiteDatabase::~TSQLiteDatabase() {
  std::lock_guard lock(mutex_);
  if (db_) sqlite3_close_v2(db_);
}

void TSQLiteDatabase::Check(int rc, const std::string& what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
  std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  throw ESQLiteError("Local store " + fileName_ + ": " + what + " failed: " + msg, rc);
}

void TSQLiteDatabase::Execute(const std::string& sql) {
  std::lock_guard lock(mutex_);
  char* err = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errstr(rc);
    sqlite3_free(err);
    throw ESQLiteError("Local store " + fileName_ + ": " + msg, rc);
  }
}

std::string TSQLiteDatabase::ExecuteJSON(const std::string& sql) {
  std::lock_guard lock(mutex_);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return "";
  TJson rows = TJson::array();
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    TJson row = TJson::object();
    int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
      const char* name = sqlite3_column_name(stmt, i);
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_INTEGER: row[name] = sqlite3_column_int64(stmt, i); break;
        case SQLITE_FLOAT: row[name] = sqlite3_column_double(stmt, i); break;
        case SQLITE_NULL: row[name] = nullptr; break;
        default: {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
          row[name] = std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
        }
      }
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) return "";
  return rows.empty() ? "{}" : JsonDump(rows);
}

long long TSQLiteDatabase::LastChangeCount() {
  std::lock_guard lock(mutex_);
  return sqlite3_changes64(db_);
}

void TSQLiteDatabase::WithHandle(const std::function<void(sqlite3*)>& body) {
  std::lock_guard lock(mutex_);
  body(db_);
}

}  // namespace courio
