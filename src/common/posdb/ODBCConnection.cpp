// The connection side of the ODBC database manager: opening (with the
// SQLite probe), closing, noticing a dead connection and reopening it.
#include <cstdint>
#include <cstdlib>

#include "common/log/LogFacility.hpp"
#include "common/posdb/ConnectionString.hpp"
#include "common/posdb/ODBCInternals.hpp"
#include "common/util/HomeFolder.hpp"
#include "common/util/StrUtils.hpp"

namespace courio {

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

std::string TsqlExtensionPath() {
  const char* env = std::getenv("COURIO_TSQL_EXTENSION");
  if (env != nullptr && *env != '\0') return env;
  return ExecutableFolder() + "libcourio_tsql.so";
}

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
    SQLSetStmtAttr(st, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(kQueryTimeoutSeconds)), 0);
  return st;
}

}  // namespace courio
