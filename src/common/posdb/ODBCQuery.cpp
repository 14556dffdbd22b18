// The result set of the ODBC database manager: columns described once, each
// row read whole into typed cells, values handed out by field name.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "common/posdb/ODBCInternals.hpp"
#include "common/util/StrUtils.hpp"

namespace courio {

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

namespace {

TDateTime SafeEncode(int y, int m, int d, int h, int mi, int s, int ms) {
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > 31) return EncodeDateTime(1899, 12, 30, h, mi, s, ms);
  return EncodeDateTime(y, m, d, h, mi, s, ms);
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

}  // namespace

TODBCQuery::TODBCQuery(TDBManagerODBC::Impl* owner, SQLHSTMT stmt)
    : owner_(owner), stmt_(stmt), wide_(owner->wideText) {
  owner_->openQueries.insert(this);
}

TODBCQuery::~TODBCQuery() { Detach(); }

void TODBCQuery::Describe() {
  SQLSMALLINT count = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(stmt_, &count))) throw DiagError(SQL_HANDLE_STMT, stmt_, "No result columns");
  columns_.resize(static_cast<size_t>(count));
  cells_.resize(static_cast<size_t>(count));
  for (SQLSMALLINT i = 1; i <= count; ++i) {
    SQLCHAR name[512] = {0};
    SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    if (!SQL_SUCCEEDED(SQLDescribeCol(stmt_, static_cast<SQLUSMALLINT>(i), name, sizeof name, &nameLen, &type, &size,
                                      &digits, &nullable)))
      throw DiagError(SQL_HANDLE_STMT, stmt_, "Cannot describe a result column");
    TResultColumn& c = columns_[static_cast<size_t>(i - 1)];
    c.name.assign(reinterpret_cast<char*>(name),
                  static_cast<size_t>(std::clamp<int>(nameLen, 0, static_cast<int>(sizeof name) - 1)));
    c.kind = KindOf(type);
    c.jsonName.clear();
    AppendJsonString(c.jsonName, c.name);
    c.jsonName += ':';
  }
}

// Moves to the next row (the first one after Describe) and reads its values.
void TODBCQuery::Fetch() {
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

bool TODBCQuery::Eof() const { return eof_; }

void TODBCQuery::Next() {
  if (!eof_) Fetch();
}

int TODBCQuery::FieldCount() const { return static_cast<int>(columns_.size()); }

std::string TODBCQuery::FieldName(int index) const {
  if (index < 0 || index >= FieldCount()) throw EDBError("Field index out of range");
  return columns_[static_cast<size_t>(index)].name;
}

bool TODBCQuery::IsNull(const std::string& field) const { return Cell(field).null; }

std::string TODBCQuery::AsString(const std::string& field) const {
  size_t i = Index(field);
  const TResultCell& c = cells_[i];
  if (c.null) return "";
  switch (columns_[i].kind) {
    case TKind::Bool:
      return c.i != 0 ? "True" : "False";
    case TKind::Int:
      return std::to_string(c.i);
    case TKind::Float:
      return FloatToText15(c.f);
    case TKind::Date:
      return FormatDateTime("yyyy-mm-dd", c.dt);
    case TKind::Time:
      return FormatDateTime("hh:nn:ss", c.dt);
    case TKind::DateTime:
      return FormatDateTime("yyyy-mm-dd hh:nn:ss", c.dt);
    default:
      return c.text;
  }
}

long long TODBCQuery::AsInteger(const std::string& field) const {
  size_t i = Index(field);
  const TResultCell& c = cells_[i];
  if (c.null) return 0;
  switch (columns_[i].kind) {
    case TKind::Bool:
    case TKind::Int:
      return c.i;
    case TKind::Float:
      return std::llround(c.f);
    case TKind::Date:
    case TKind::Time:
    case TKind::DateTime:
      return static_cast<long long>(c.dt);
    default: {
      long long v = 0;
      if (!TryParseInt64(Trim(c.text), v)) throw EDBError("'" + c.text + "' is not a valid integer value");
      return v;
    }
  }
}

double TODBCQuery::AsFloat(const std::string& field) const {
  size_t i = Index(field);
  const TResultCell& c = cells_[i];
  if (c.null) return 0;
  switch (columns_[i].kind) {
    case TKind::Bool:
    case TKind::Int:
      return static_cast<double>(c.i);
    case TKind::Float:
      return c.f;
    case TKind::Date:
    case TKind::Time:
    case TKind::DateTime:
      return c.dt;
    default: {
      std::string t = Trim(c.text);
      char* end = nullptr;
      double v = std::strtod(t.c_str(), &end);
      if (t.empty() || end != t.c_str() + t.size())
        throw EDBError("'" + c.text + "' is not a valid floating point value");
      return v;
    }
  }
}

TDateTime TODBCQuery::AsDateTime(const std::string& field) const {
  size_t i = Index(field);
  const TResultCell& c = cells_[i];
  if (c.null) return 0;
  switch (columns_[i].kind) {
    case TKind::Date:
    case TKind::Time:
    case TKind::DateTime:
      return c.dt;
    case TKind::Float:
      return c.f;
    case TKind::Bool:
    case TKind::Int:
      return static_cast<double>(c.i);
    default: {
      TDateTime v = 0;
      if (!TryIsoToDateTime(Trim(c.text), v)) throw EDBError("'" + c.text + "' is not a valid date and time");
      return v;
    }
  }
}

// The owner closes the connection: free the statement; reads as at its end.
void TODBCQuery::Detach() {
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

size_t TODBCQuery::Index(const std::string& field) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (SameText(columns_[i].name, field)) return i;
  throw EDBError("Field '" + field + "' not found");
}

const TResultCell& TODBCQuery::Cell(const std::string& field) const { return cells_[Index(field)]; }

void TODBCQuery::ReadText(SQLUSMALLINT col, SQLSMALLINT ctype, TResultCell& c) {
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
void TODBCQuery::ReadWideText(SQLUSMALLINT col, TResultCell& c) {
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
bool TODBCQuery::ReadFixed(SQLUSMALLINT col, SQLSMALLINT ctype, T& value) {
  SQLLEN ind = 0;
  SQLRETURN rc = SQLGetData(stmt_, col, ctype, &value, sizeof value, &ind);
  if (!SQL_SUCCEEDED(rc)) throw DiagError(SQL_HANDLE_STMT, stmt_, "Cannot read a column");
  return ind != SQL_NULL_DATA;
}

void TODBCQuery::ReadCell(size_t index) {
  TResultCell& c = cells_[index];
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
      c.dt =
          SafeEncode(ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, static_cast<int>(ts.fraction / 1000000));
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

}  // namespace courio
