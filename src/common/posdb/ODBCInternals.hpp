#pragma once
// Internals of the ODBC database manager, shared by its source files only:
// the connection state (TDBManagerODBC::Impl, ODBCConnection.cpp), the result
// set (TODBCQuery, ODBCQuery.cpp), the column kinds and the JSON writer
// (QueryJson.cpp). Nothing outside common/posdb includes this.

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/posdb/SqliteRewrite.hpp"
#include "common/posdb/clsDBManagerODBC.hpp"

namespace courio {

// SQL Server specific types reported by its ODBC drivers.
constexpr SQLSMALLINT kSsVariant = -150;
constexpr SQLSMALLINT kSsXml = -152;
constexpr SQLSMALLINT kSsTime2 = -154;
constexpr SQLSMALLINT kSsTimestampOffset = -155;

// All diagnostic records of a handle as one error. The SQLSTATE is the first
// connection-class (08) state when there is one, else the first record's.
EDBError DiagError(SQLSMALLINT type, SQLHANDLE handle, const std::string& fallback);

enum class TKind { Text, Bool, Int, Float, Date, Time, TimeText, DateTime, DateTimeText, Bytes, Variant, Other };

// The kind of value an ODBC column type holds.
TKind KindOf(SQLSMALLINT type);

struct TResultColumn {
  std::string name;
  std::string jsonName;  // "name": already escaped, with quotes and colon
  TKind kind = TKind::Other;
};

struct TResultCell {
  bool null = true;
  std::string text;  // text kinds and bytes
  long long i = 0;   // Int, Bool
  double f = 0;      // Float
  TDateTime dt = 0;  // date/time kinds
};

// A JSON string: quotes, escapes, and U+FFFD for bytes that are not UTF-8.
void AppendJsonString(std::string& out, std::string_view s);
// "yyyy-mm-dd" when the day part is not zero, then "Thh:nn:ss" when the time
// part is not zero; "" for zero.
std::string JsonDateText(TDateTime value);

class TODBCQuery;

struct TDBManagerODBC::Impl {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  bool connected = false;
  bool broken = false;        // a statement lost the connection; reopen before the next
  bool reconnecting = false;  // the connection was lost; say so when it is back
  bool sqlite = false;
  bool wideText = false;                // fetch text as UTF-16 (decided at connect)
  std::optional<bool> wideTextSetting;  // SetWideText; unset: all but SQLite
  bool haveConnectionString = false;
  std::string connectionString;  // as set (OLE DB or ODBC)
  std::string lastError;
  // SQLite: the database file's identity when opened.
  bool haveIdentity = false;
  std::string dbPath;
  dev_t dbDev = 0;
  ino_t dbIno = 0;
  std::set<TODBCQuery*> openQueries;

  void OpenConnection();
  void CloseConnection();
  bool LooksDead();
  void EnsureOpen();
  void Probe();
  SQLHSTMT NewStatement();
  std::string Prepare(const std::string& sql) const { return sqlite ? RewriteForSqlite(sql) : sql; }
};

class TODBCQuery final : public IDBQuery {
 public:
  TODBCQuery(TDBManagerODBC::Impl* owner, SQLHSTMT stmt);
  ~TODBCQuery() override;
  void Describe();
  // Moves to the next row (the first one after Describe) and reads its values.
  void Fetch();
  bool Eof() const override;
  void Next() override;
  int FieldCount() const override;
  std::string FieldName(int index) const override;
  bool IsNull(const std::string& field) const override;
  std::string AsString(const std::string& field) const override;
  long long AsInteger(const std::string& field) const override;
  double AsFloat(const std::string& field) const override;
  TDateTime AsDateTime(const std::string& field) const override;
  // Rows from the current one to the end as a JSON array ("null" when none).
  std::string ToJson();
  // The owner closes the connection: free the statement; reads as at its end.
  void Detach();

 private:
  size_t Index(const std::string& field) const;
  const TResultCell& Cell(const std::string& field) const;
  void ReadText(SQLUSMALLINT col, SQLSMALLINT ctype, TResultCell& c);
  // Text as UTF-16 from the driver (independent of the process locale), kept as UTF-8.
  void ReadWideText(SQLUSMALLINT col, TResultCell& c);
  template <class T>
  bool ReadFixed(SQLUSMALLINT col, SQLSMALLINT ctype, T& value);
  void ReadCell(size_t index);
  void AppendJsonValue(std::string& out, size_t i) const;
  TDBManagerODBC::Impl* owner_;
  SQLHSTMT stmt_;
  bool wide_;
  std::vector<TResultColumn> columns_;
  std::vector<TResultCell> cells_;
  bool eof_ = true;
};

}  // namespace courio
