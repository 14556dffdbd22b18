#include "common/posdb/clsDBManagerODBC.hpp"

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <vector>

#include "common/posdb/ConnectionString.hpp"
#include "common/util/HomeFolder.hpp"
#include "common/log/LogFacility.hpp"
#include "common/posdb/SqliteRewrite.hpp"
#include "common/util/StrUtils.hpp"
#include "common/log/intfLogManager.hpp"

namespace courio {
namespace {

// SQL Server specific types reported by its ODBC drivers.
constexpr SQLSMALLINT kSsVariant = -150;
constexpr SQLSMALLINT kSsXml = -152;
constexpr SQLSMALLINT kSsTime2 = -154;
constexpr SQLSMALLINT kSsTimestampOffset = -155;

// All diagnostic records of a handle as one error. The SQLSTATE is the first
// connection-class (08) state when there is one, else the first record's.
EDBError DiagError(SQLSMALLINT type, SQLHANDLE handle, const std::string& fallback) {
  std::string message, state, connState;
  long native = 0;
  for (SQLSMALLINT i = 1; i <= 10; ++i) {
    SQLCHAR st[6] = {0};
    SQLINTEGER nat = 0;
    SQLCHAR text[2048] = {0};
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRec(type, handle, i, st, &nat, text, sizeof text, &len);
    if (!SQL_SUCCEEDED(rc)) break;
    std::string s(reinterpret_cast<char*>(st));
    if (i == 1) {
      state = s;
      native = nat;
    }
    if (connState.empty() && s.compare(0, 2, "08") == 0) connState = s;
    std::string m(reinterpret_cast<char*>(text), static_cast<size_t>(std::clamp<int>(len, 0, sizeof text - 1)));
    m = Trim(m);
    if (!m.empty() && message.find(m) == std::string::npos) {
      if (!message.empty()) message += "; ";
      message += m;
    }
  }
  if (message.empty()) message = fallback;
  return EDBError(message, connState.empty() ? state : connState, native);
}

enum class TKind { Text, Bool, Int, Float, Date, Time, TimeText, DateTime, DateTimeText, Bytes, Variant, Other };

TKind KindOf(SQLSMALLINT type) {
  switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case kSsXml:
      return TKind::Text;
    case SQL_BIT:
      return TKind::Bool;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return TKind::Int;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return TKind::Float;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return TKind::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return TKind::Time;
    case kSsTime2:
      return TKind::TimeText;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return TKind::DateTime;
    case kSsTimestampOffset:
      return TKind::DateTimeText;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return TKind::Bytes;
    case kSsVariant:
      return TKind::Variant;
    default:
      return TKind::Other;  // GUID, intervals, ...
  }
}

struct TColumn {
  std::string name;
  std::string jsonName;  // "name": already escaped, with quotes and colon
  TKind kind = TKind::Other;
};

struct TCell {
  bool null = true;
  std::string text;  // text kinds and bytes
  long long i = 0;   // Int, Bool
  double f = 0;      // Float
  TDateTime dt = 0;  // date/time kinds
};

TDateTime SafeEncode(int y, int m, int d, int h, int mi, int s, int ms) {
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > 31) return EncodeDateTime(1899, 12, 30, h, mi, s, ms);
  return EncodeDateTime(y, m, d, h, mi, s, ms);
}

void AppendHex4(std::string& out, unsigned v) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  out += kHex[(v >> 12) & 0xF];
  out += kHex[(v >> 8) & 0xF];
  out += kHex[(v >> 4) & 0xF];
  out += kHex[v & 0xF];
}

// Length of a valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(std::string_view s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  return n;
}

// A JSON string: quotes, escapes, and U+FFFD for bytes that are not UTF-8.
void AppendJsonString(std::string& out, std::string_view s) {
  out += '"';
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      size_t j = i + 1;
      while (j < s.size()) {
        unsigned char d = static_cast<unsigned char>(s[j]);
        if (d < 0x20 || d >= 0x80 || d == '"' || d == '\\') break;
        ++j;
      }
      out.append(s.data() + i, j - i);
      i = j;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      case '\n': out += "\\n"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      case '\b': out += "\\b"; ++i; continue;
      case '\f': out += "\\f"; ++i; continue;
      default: break;
    }
    if (c < 0x20) {
      AppendHex4(out, c);
      ++i;
      continue;
    }
    size_t n = Utf8Length(s, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(s.data() + i, n);
      i += n;
    }
  }
  out += '"';
}

std::string Utf16ToUtf8(const std::u16string& w) {
  std::string out;
  out.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    uint32_t cp = w[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// "yyyy-mm-dd" when the day part is not zero, then "Thh:nn:ss" when the time
// part is not zero; "" for zero.
std::string JsonDateText(TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  bool hasDay = !(p.year == 1899 && p.month == 12 && p.day == 30);
  bool hasTime = p.hour != 0 || p.minute != 0 || p.second != 0 || p.ms != 0;
  std::string out;
  if (hasDay) out = FormatDateTime("yyyy-mm-dd", value);
  if (hasTime) out += FormatDateTime("'T'hh:nn:ss", value);
  return out;
}

}  // namespace

std::string TsqlExtensionPath() {
  const char* env = std::getenv("COURIO_TSQL_EXTENSION");
  if (env != nullptr && *env != '\0') return env;
  return ExecutableFolder() + "libcourio_tsql.so";
}

// ---- the query ------------------------------------------------------------

class TODBCQuery;

struct TDBManagerODBC::Impl {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  bool connected = false;
  bool broken = false;     // a statement lost the connection; reopen before the next
  bool reconnecting = false;  // the connection was lost; say so when it is back
  bool sqlite = false;
  bool wideText = false;  // fetch text as UTF-16 (decided at connect)
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
  TODBCQuery(TDBManagerODBC::Impl* owner, SQLHSTMT stmt) : owner_(owner), stmt_(stmt), wide_(owner->wideText) {
    owner_->openQueries.insert(this);
  }
  ~TODBCQuery() override { Detach(); }

  void Describe() {
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt_, &count))) throw DiagError(SQL_HANDLE_STMT, stmt_, "No result columns");
    columns_.resize(static_cast<size_t>(count));
    cells_.resize(static_cast<size_t>(count));
    for (SQLSMALLINT i = 1; i <= count; ++i) {
      SQLCHAR name[512] = {0};
      SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!SQL_SUCCEEDED(SQLDescribeCol(stmt_, static_cast<SQLUSMALLINT>(i), name, sizeof name, &nameLen, &type,
                                        &size, &digits, &nullable)))
        throw DiagError(SQL_HANDLE_STMT, stmt_, "Cannot describe a result column");
      TColumn& c = columns_[static_cast<size_t>(i - 1)];
      c.name.assign(reinterpret_cast<char*>(name),
                    static_cast<size_t>(std::clamp<int>(nameLen, 0, static_cast<int>(sizeof name) - 1)));
      c.kind = KindOf(type);
      c.jsonName.clear();
      AppendJsonString(c.jsonName, c.name);
      c.jsonName += ':';
    }
  }

  // Moves to the next row (the first one after Describe) and reads its values.
  void Fetch() {
    if (stmt_ == nullptr || columns_.empty()) {
      eof_ = true;
      return;
    }
    SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) {
      eof_ = true;
      return;
    }
    if (!SQL_SUCCEEDED(rc)) throw DiagError(SQL_HANDLE_STMT, stmt_, "Fetch failed");
    eof_ = false;
    for (size_t i = 0; i < columns_.size(); ++i) ReadCell(i);
  }

  bool Eof() const override { return eof_; }
  void Next() override {
    if (!eof_) Fetch();
  }
  int FieldCount() const override { return static_cast<int>(columns_.size()); }
  std::string FieldName(int index) const override {
    if (index < 0 || index >= FieldCount()) throw EDBError("Field index out of range");
    return columns_[static_cast<size_t>(index)].name;
  }
  bool IsNull(const std::string& field) const override { return Cell(field).null; }

  std::string AsString(const std::string& field) const override {
    size_t i = Index(field);
    const TCell& c = cells_[i];
    if (c.null) return "";
    switch (columns_[i].kind) {
      case TKind::Bool: return c.i != 0 ? "True" : "False";
      case TKind::Int: return std::to_string(c.i);
      case TKind::Float: return FloatToText15(c.f);
      case TKind::Date: return FormatDateTime("yyyy-mm-dd", c.dt);
      case TKind::Time: return FormatDateTime("hh:nn:ss", c.dt);
      case TKind::DateTime: return FormatDateTime("yyyy-mm-dd hh:nn:ss", c.dt);
      default: return c.text;
    }
  }

  long long AsInteger(const std::string& field) const override {
    size_t i = Index(field);
    const TCell& c = cells_[i];
    if (c.null) return 0;
    switch (columns_[i].kind) {
      case TKind::Bool:
      case TKind::Int: return c.i;
      case TKind::Float: return std::llround(c.f);
      case TKind::Date:
      case TKind::Time:
      case TKind::DateTime: return static_cast<long long>(c.dt);
      default: {
        long long v = 0;
        if (!TryParseInt64(Trim(c.text), v)) throw EDBError("'" + c.text + "' is not a valid integer value");
        return v;
      }
    }
  }

  double AsFloat(const std::string& field) const override {
    size_t i = Index(field);
    const TCell& c = cells_[i];
    if (c.null) return 0;
    switch (columns_[i].kind) {
      case TKind::Bool:
      case TKind::Int: return static_cast<double>(c.i);
      case TKind::Float: return c.f;
      case TKind::Date:
      case TKind::Time:
      case TKind::DateTime: return c.dt;
      default: {
        std::string t = Trim(c.text);
        char* end = nullptr;
        double v = std::strtod(t.c_str(), &end);
        if (t.empty() || end != t.c_str() + t.size()) throw EDBError("'" + c.text + "' is not a valid floating point value");
        return v;
      }
    }
  }

  TDateTime AsDateTime(const std::string& field) const override {
    size_t i = Index(field);
    const TCell& c = cells_[i];
    if (c.null) return 0;
    switch (columns_[i].kind) {
      case TKind::Date:
      case TKind::Time:
      case TKind::DateTime: return c.dt;
      case TKind::Float: return c.f;
      case TKind::Bool:
      case TKind::Int: return static_cast<double>(c.i);
      default: {
        TDateTime v = 0;
        if (!TryIsoToDateTime(Trim(c.text), v)) throw EDBError("'" + c.text + "' is not a valid date and time");
        return v;
      }
    }
  }

  // Rows from the current one to the end as a JSON array ("null" when none).
  std::string ToJson() {
    if (eof_) return "null";
    std::string out = "[";
    bool firstRow = true;
    while (!eof_) {
      if (!firstRow) out += ',';
      firstRow = false;
      out += '{';
      for (size_t i = 0; i < columns_.size(); ++i) {
        if (i > 0) out += ',';
        out += columns_[i].jsonName;
        AppendJsonValue(out, i);
      }
      out += '}';
      Fetch();
    }
    out += ']';
    return out;
  }

  // The owner closes the connection: free the statement; reads as at its end.
  void Detach() {
    if (stmt_ != nullptr) {
      SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
      stmt_ = nullptr;
    }
    if (owner_ != nullptr) {
      owner_->openQueries.erase(this);
      owner_ = nullptr;
    }
    eof_ = true;
  }

 private:
  size_t Index(const std::string& field) const {
    for (size_t i = 0; i < columns_.size(); ++i)
      if (SameText(columns_[i].name, field)) return i;
    throw EDBError("Field '" + field + "' not found");
  }
  const TCell& Cell(const std::string& field) const { return cells_[Index(field)]; }

  void ReadText(SQLUSMALLINT col, SQLSMALLINT ctype, TCell& c) {
    c.text.clear();
    char buf[8192];
    const size_t room = ctype == SQL_C_CHAR ? sizeof buf - 1 : sizeof buf;
    while (true) {
      SQLLEN ind = 0;
      SQLRETURN rc = SQLGetData(stmt_, col, ctype, buf, sizeof buf, &ind);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) throw DiagError(SQL_HANDLE_STMT, stmt_, "Cannot read a column");
      if (ind == SQL_NULL_DATA) {
        c.null = true;
        return;
      }
      size_t got = (ind == SQL_NO_TOTAL || static_cast<size_t>(ind) > room) ? room : static_cast<size_t>(ind);
      c.text.append(buf, got);
      if (rc == SQL_SUCCESS || got < room) break;
    }
    c.null = false;
  }

  // Text as UTF-16 from the driver (independent of the process locale), kept as UTF-8.
  void ReadWideText(SQLUSMALLINT col, TCell& c) {
    std::u16string wide;
    SQLWCHAR buf[4096];
    const size_t room = sizeof buf - sizeof(SQLWCHAR);
    while (true) {
      SQLLEN ind = 0;
      SQLRETURN rc = SQLGetData(stmt_, col, SQL_C_WCHAR, buf, sizeof buf, &ind);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) throw DiagError(SQL_HANDLE_STMT, stmt_, "Cannot read a column");
      if (ind == SQL_NULL_DATA) {
        c.null = true;
        return;
      }
      size_t got = (ind == SQL_NO_TOTAL || static_cast<size_t>(ind) > room) ? room : static_cast<size_t>(ind);
      for (size_t k = 0; k < got / sizeof(SQLWCHAR); ++k) wide.push_back(static_cast<char16_t>(buf[k]));
      if (rc == SQL_SUCCESS || got < room) break;
    }
    c.text = Utf16ToUtf8(wide);
    c.null = false;
  }

  template <class T>
  bool ReadFixed(SQLUSMALLINT col, SQLSMALLINT ctype, T& value) {
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt_, col, ctype, &value, sizeof value, &ind);
    if (!SQL_SUCCEEDED(rc)) throw DiagError(SQL_HANDLE_STMT, stmt_, "Cannot read a column");
    return ind != SQL_NULL_DATA;
  }

  void ReadCell(size_t index) {
    TCell& c = cells_[index];
    c.null = true;
    const auto col = static_cast<SQLUSMALLINT>(index + 1);
    switch (columns_[index].kind) {
      case TKind::Text:
      case TKind::Variant:
        if (wide_)
          ReadWideText(col, c);
        else
          ReadText(col, SQL_C_CHAR, c);
        break;
      case TKind::Bytes:
        ReadText(col, SQL_C_BINARY, c);
        break;
      case TKind::Bool:
      case TKind::Int: {
        SQLBIGINT v = 0;
        c.null = !ReadFixed(col, SQL_C_SBIGINT, v);
        c.i = v;
        break;
      }
      case TKind::Float: {
        double v = 0;
        c.null = !ReadFixed(col, SQL_C_DOUBLE, v);
        c.f = v;
        break;
      }
      case TKind::Date: {
        SQL_DATE_STRUCT d{};
        c.null = !ReadFixed(col, SQL_C_TYPE_DATE, d);
        c.dt = SafeEncode(d.year, d.month, d.day, 0, 0, 0, 0);
        break;
      }
      case TKind::Time: {
        SQL_TIME_STRUCT t{};
        c.null = !ReadFixed(col, SQL_C_TYPE_TIME, t);
        c.dt = EncodeDateTime(1899, 12, 30, t.hour, t.minute, t.second);
        break;
      }
      case TKind::DateTime: {
        SQL_TIMESTAMP_STRUCT ts{};
        c.null = !ReadFixed(col, SQL_C_TYPE_TIMESTAMP, ts);
        c.dt = SafeEncode(ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                          static_cast<int>(ts.fraction / 1000000));
        break;
      }
      case TKind::TimeText:
      case TKind::DateTimeText: {
        ReadText(col, SQL_C_CHAR, c);
        if (!c.null && !TryIsoToDateTime(Trim(c.text), c.dt)) c.dt = 0;
        break;
      }
      case TKind::Other:
        break;
    }
  }

  void AppendJsonValue(std::string& out, size_t i) const {
    const TCell& c = cells_[i];
    if (c.null) {
      out += "null";
      return;
    }
    switch (columns_[i].kind) {
      case TKind::Text:
      case TKind::Variant:
        AppendJsonString(out, c.text);
        return;
      case TKind::Bool:
        out += c.i != 0 ? "true" : "false";
        return;
      case TKind::Int:
        out += std::to_string(c.i);
        return;
      case TKind::Float:
        if (std::isfinite(c.f))
          out += FloatToText15(c.f);
        else
          out += "null";
        return;
      case TKind::Date:
      case TKind::Time:
      case TKind::DateTime:
      case TKind::TimeText:
      case TKind::DateTimeText:
        AppendJsonString(out, JsonDateText(c.dt));
        return;
      case TKind::Bytes:
        if (c.text.empty()) {
          out += "null";
        } else {
          out += '"';
          out += "\xEF\xBF\xB0";  // U+FFF0 marks Base64 data
          out += Base64Encode(c.text);
          out += '"';
        }
        return;
      case TKind::Other:
        out += "null";
        return;
    }
  }

  TDBManagerODBC::Impl* owner_;
  SQLHSTMT stmt_;
  bool wide_;
  std::vector<TColumn> columns_;
  std::vector<TCell> cells_;
  bool eof_ = true;
};

// ---- the connection -----------------------------------------------------------

void TDBManagerODBC::Impl::OpenConnection() {
  if (Trim(connectionString).empty()) throw EDBError("The connection string is empty", "08001");
  std::string odbc = TranslateConnectionString(connectionString);
  if (NamesSqliteDriver(odbc)) odbc = WithSqliteExtension(odbc, TsqlExtensionPath());

  SQLHDBC handle = nullptr;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &handle)))
    throw EDBError("Cannot allocate an ODBC connection handle", "HY001");
  SQLSetConnectAttr(handle, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(kLoginTimeoutSeconds)), 0);
  SQLRETURN rc = SQLDriverConnect(handle, nullptr, reinterpret_cast<SQLCHAR*>(odbc.data()),
                                  static_cast<SQLSMALLINT>(odbc.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    EDBError error = DiagError(SQL_HANDLE_DBC, handle, "Cannot connect to the POS database");
    SQLFreeHandle(SQL_HANDLE_DBC, handle);
    // Every connect failure is a connection-class failure.
    throw EDBError(error.what(), error.ConnectionLost() ? error.SqlState() : "08001", error.NativeError());
  }
  dbc = handle;
  connected = true;
  broken = false;

  SQLCHAR dbms[128] = {0};
  SQLSMALLINT len = 0;
  sqlite = SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DBMS_NAME, dbms, sizeof dbms, &len)) &&
           SameText(reinterpret_cast<char*>(dbms), "SQLite");
  // The SQLite3 driver hands out its UTF-8 as it is; other drivers convert
  // narrow text to the process locale's code page, so ask them for UTF-16.
  wideText = wideTextSetting.value_or(!sqlite);
  haveIdentity = false;
  if (sqlite) {
    dbPath = ConnectionValue(ParseConnectionString(odbc), "Database");
    struct stat st {};
    if (!dbPath.empty() && ::stat(dbPath.c_str(), &st) == 0) {
      haveIdentity = true;
      dbDev = st.st_dev;
      dbIno = st.st_ino;
    }
    try {
      Probe();
    } catch (...) {
      CloseConnection();
      throw;
    }
  }
  if (reconnecting) {
    reconnecting = false;
    Log(TLogLevel::Info, "[TDBManagerODBC.Open] The POS database connection is back");
  }
}

// The SQLite3 driver skips an extension it cannot load without a word; the
// POS statements need it, so prove it is there.
void TDBManagerODBC::Impl::Probe() {
  SQLHSTMT st = NewStatement();
  std::string sql = "SELECT PATINDEX( '%TRANSTYPE=%', 'x TRANSTYPE=''3''' ) AS Probe";
  SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()));
  SQLBIGINT value = 0;
  std::string detail;
  if (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(SQLFetch(st))) {
    SQLLEN ind = 0;
    if (!SQL_SUCCEEDED(SQLGetData(st, 1, SQL_C_SBIGINT, &value, sizeof value, &ind))) value = 0;
  } else {
    detail = DiagError(SQL_HANDLE_STMT, st, "probe query failed").what();
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  if (value != 3)
    throw EDBError("The T-SQL compatibility extension is not loaded in the SQLite POS connection (LoadExt=" +
                       TsqlExtensionPath() + "): " + (detail.empty() ? "wrong probe result" : detail),
                   "08001");
}

void TDBManagerODBC::Impl::CloseConnection() {
  while (!openQueries.empty()) (*openQueries.begin())->Detach();
  if (dbc != nullptr) {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    dbc = nullptr;
  }
  connected = false;
  sqlite = false;
  haveIdentity = false;
}

bool TDBManagerODBC::Impl::LooksDead() {
  if (!connected) return true;
  if (sqlite) {
    if (!haveIdentity) return false;
    struct stat st {};
    return ::stat(dbPath.c_str(), &st) != 0 || st.st_dev != dbDev || st.st_ino != dbIno;
  }
  SQLUINTEGER dead = SQL_CD_FALSE;
  SQLRETURN rc = SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

void TDBManagerODBC::Impl::EnsureOpen() {
  if (connected && !broken && !LooksDead()) return;
  if (!haveConnectionString) throw EDBError("The connection is not open", "08003");
  if (connected) {
    Log(TLogLevel::Warning, "[TDBManagerODBC.Reconnect] The POS database connection was lost; reopening it");
    reconnecting = true;
    CloseConnection();
  }
  OpenConnection();
}

SQLHSTMT TDBManagerODBC::Impl::NewStatement() {
  SQLHSTMT st = nullptr;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st)))
    throw DiagError(SQL_HANDLE_DBC, dbc, "Cannot allocate an ODBC statement handle");
  if (!sqlite)
    SQLSetStmtAttr(st, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(kQueryTimeoutSeconds)),
                   0);
  return st;
}

// ---- the manager ----------------------------------------------------------------

namespace {
// Frees a statement handle unless released.
struct StmtHolder {
  SQLHSTMT st;
  ~StmtHolder() {
    if (st != nullptr) SQLFreeHandle(SQL_HANDLE_STMT, st);
  }
  SQLHSTMT Release() {
    SQLHSTMT s = st;
    st = nullptr;
    return s;
  }
};
}  // namespace

TDBManagerODBC::TDBManagerODBC() : impl_(std::make_unique<Impl>()) {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &impl_->env)))
    throw EDBError("Cannot allocate an ODBC environment");
  SQLSetEnvAttr(impl_->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
}

TDBManagerODBC::~TDBManagerODBC() {
  impl_->CloseConnection();
  if (impl_->env != nullptr) SQLFreeHandle(SQL_HANDLE_ENV, impl_->env);
}

void TDBManagerODBC::SetConnectionString(const std::string& text) {
  impl_->connectionString = text;
  impl_->haveConnectionString = true;
}

void TDBManagerODBC::Close() { impl_->CloseConnection(); }

void TDBManagerODBC::SetWideText(bool wide) {
  impl_->wideTextSetting = wide;
  impl_->wideText = wide;
}

bool TDBManagerODBC::IsSqlite() const { return impl_->connected && impl_->sqlite; }

bool TDBManagerODBC::IsConnected() { return impl_->connected && !impl_->broken && !impl_->LooksDead(); }

void TDBManagerODBC::Open() {
  impl_->CloseConnection();
  impl_->OpenConnection();
}

bool TDBManagerODBC::BeginTransaction() { return Execute("BEGIN TRANSACTION"); }
bool TDBManagerODBC::RollbackTransaction() { return Execute("ROLLBACK TRANSACTION"); }
bool TDBManagerODBC::CommitTransaction() { return Execute("COMMIT TRANSACTION"); }

namespace {
// Runs `body`; a failure is stored, logged through the log manager (the
// message alone) and raised again.
template <class F>
void Guarded(TDBManagerODBC::Impl& impl, F&& body) {
  try {
    body();
  } catch (const EDBError& e) {
    impl.lastError = e.what();
    if (e.ConnectionLost()) impl.broken = true;
    ManagerLog(impl.lastError);
    throw;
  } catch (const std::exception& e) {
    impl.lastError = e.what();
    ManagerLog(impl.lastError);
    throw;
  }
}
}  // namespace

void TDBManagerODBC::OpenQuery(const std::string& sql, TDBQuery& query) {
  Guarded(*impl_, [&] {
    impl_->EnsureOpen();
    StmtHolder holder{impl_->NewStatement()};
    std::string text = impl_->Prepare(sql);
    SQLRETURN rc =
        SQLExecDirect(holder.st, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) throw DiagError(SQL_HANDLE_STMT, holder.st, "The statement failed");
    // Skip leading results without columns (row counts of earlier statements).
    SQLSMALLINT cols = 0;
    SQLNumResultCols(holder.st, &cols);
    while (cols == 0) {
      rc = SQLMoreResults(holder.st);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) throw DiagError(SQL_HANDLE_STMT, holder.st, "The statement failed");
      SQLNumResultCols(holder.st, &cols);
    }
    auto q = std::make_unique<TODBCQuery>(impl_.get(), holder.Release());
    q->Describe();
    q->Fetch();
    query = std::move(q);
  });
}

void TDBManagerODBC::OpenQueryFmt(const std::string& format, std::initializer_list<TFmtArg> args, TDBQuery& query) {
  OpenQuery(FormatFmt(format, args), query);
}

void TDBManagerODBC::FreeQuery(TDBQuery& query) { query.reset(); }

bool TDBManagerODBC::ExecuteRows(const std::string& sql, long long& rowsAffected) {
  Guarded(*impl_, [&] {
    impl_->EnsureOpen();
    StmtHolder holder{impl_->NewStatement()};
    std::string text = impl_->Prepare(sql);
    SQLRETURN rc =
        SQLExecDirect(holder.st, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) throw DiagError(SQL_HANDLE_STMT, holder.st, "The statement failed");
    SQLLEN rows = 0;
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(SQLRowCount(holder.st, &rows))) rows = -1;
    rowsAffected = rows;
    // Later results can carry the errors of later statements in the batch.
    while (true) {
      rc = SQLMoreResults(holder.st);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) throw DiagError(SQL_HANDLE_STMT, holder.st, "The statement failed");
    }
  });
  return true;
}

bool TDBManagerODBC::Execute(const std::string& sql) {
  long long rows = 0;
  return ExecuteRows(sql, rows);
}

bool TDBManagerODBC::ExecuteFmt(const std::string& format, std::initializer_list<TFmtArg> args) {
  return Execute(FormatFmt(format, args));
}

bool TDBManagerODBC::ExecuteRowsFmt(const std::string& format, std::initializer_list<TFmtArg> args,
                                    long long& rowsAffected) {
  return ExecuteRows(FormatFmt(format, args), rowsAffected);
}

std::string TDBManagerODBC::QueryString(const std::string& sql, const std::string& fieldName) {
  TDBQuery q;
  OpenQuery(sql, q);
  std::string result;
  if (!q->Eof()) result = q->AsString(fieldName);
  FreeQuery(q);
  return result;
}

int TDBManagerODBC::QueryInteger(const std::string& sql, const std::string& fieldName) {
  TDBQuery q;
  OpenQuery(sql, q);
  long long result = 0;
  if (!q->Eof()) result = q->AsInteger(fieldName);
  FreeQuery(q);
  return static_cast<int>(result);
}

void TDBManagerODBC::QueryJSONFmt(const std::string& format, std::initializer_list<TFmtArg> args, std::string& json) {
  TDBQuery q;
  OpenQueryFmt(format, args, q);
  Guarded(*impl_, [&] { json = QueryToJson(*q); });
  FreeQuery(q);
}

std::string TDBManagerODBC::QueryToJson(IDBQuery& query) {
  if (auto* odbc = dynamic_cast<TODBCQuery*>(&query)) return odbc->ToJson();
  // Another query kind: every value as text.
  if (query.Eof()) return "null";
  std::string out = "[";
  bool firstRow = true;
  while (!query.Eof()) {
    if (!firstRow) out += ',';
    firstRow = false;
    out += '{';
    for (int i = 0; i < query.FieldCount(); ++i) {
      std::string name = query.FieldName(i);
      if (i > 0) out += ',';
      AppendJsonString(out, name);
      out += ':';
      if (query.IsNull(name))
        out += "null";
      else
        AppendJsonString(out, query.AsString(name));
    }
    out += '}';
    query.Next();
  }
  return out + "]";
}

std::string TDBManagerODBC::DateToSQL(TDateTime value) { return QuotedStr(FormatDateTime("yyyy-mm-dd", value)); }
std::string TDBManagerODBC::DateTimeToSQL(TDateTime value) {
  return QuotedStr(FormatDateTime("yyyy-mm-dd hh:nn:ss", value));
}
std::string TDBManagerODBC::TimeToSQL(TDateTime value) { return QuotedStr(FormatDateTime("hh:nn:ss", value)); }

std::string TDBManagerODBC::GetLastError() { return impl_->lastError; }

}  // namespace courio
