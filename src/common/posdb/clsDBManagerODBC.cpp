#include "common/posdb/clsDBManagerODBC.hpp"

#include "common/log/LogFacility.hpp"
#include "common/log/intfLogManager.hpp"
#include "common/posdb/ODBCInternals.hpp"
#include "common/util/StrUtils.hpp"

namespace courio {

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

std::string TDBManagerODBC::DateToSQL(TDateTime value) { return QuotedStr(FormatDateTime("yyyy-mm-dd", value)); }
std::string TDBManagerODBC::DateTimeToSQL(TDateTime value) {
  return QuotedStr(FormatDateTime("yyyy-mm-dd hh:nn:ss", value));
}
std::string TDBManagerODBC::TimeToSQL(TDateTime value) { return QuotedStr(FormatDateTime("hh:nn:ss", value)); }

std::string TDBManagerODBC::GetLastError() { return impl_->lastError; }

}  // namespace courio
