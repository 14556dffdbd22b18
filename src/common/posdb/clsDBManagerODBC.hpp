#pragma once
// TDBManagerODBC: the POS database manager's engine on ODBC (unixODBC). One
// connection per manager; SQL text is sent as given (when the connected DBMS
// is the embedded SQLite POS, RewriteForSqlite adapts T-SQL forms first).
//
// Connection strings: the registry's OLE DB string is translated for ODBC
// (ConnectionString.hpp). A string naming the SQLite3 driver gets the T-SQL
// compatibility extension loaded (LoadExt=), and a probe query right after
// connecting proves it is there (the driver ignores a failed load silently).
// Logins time out after kLoginTimeoutSeconds; statements after
// kQueryTimeoutSeconds where the driver supports it.
//
// Broken connections: a statement failing with SQLSTATE class 08, a
// connection the driver reports dead, or (SQLite) a database file that was
// removed or replaced marks the connection broken; the next statement reopens
// it first. A failing reopen is that statement's failure.
//
// Failures of statements: the message goes to LastError and, alone, through
// the log manager; then the exception (EDBError) is raised again.
//
// Thread-safety: none; one thread uses a manager at a time. Queries handed
// out must be freed (FreeQuery or destruction) before the manager is; a query
// still open when the connection is reopened or the manager destroyed is
// closed and reads as at its end.

#include <memory>
#include <stdexcept>
#include <string>

#include "common/posdb/intfDBManager.hpp"

namespace courio {

// A database failure with its SQLSTATE ("" when none applies).
class EDBError : public std::runtime_error {
 public:
  EDBError(const std::string& message, std::string sqlState = "", long nativeError = 0)
      : std::runtime_error(message), sqlState_(std::move(sqlState)), nativeError_(nativeError) {}
  const std::string& SqlState() const { return sqlState_; }
  long NativeError() const { return nativeError_; }
  // SQLSTATE class 08: the connection failed or was lost.
  bool ConnectionLost() const { return sqlState_.size() == 5 && sqlState_.compare(0, 2, "08") == 0; }

 private:
  std::string sqlState_;
  long nativeError_;
};

// The T-SQL compatibility extension loaded into SQLite connections:
// $COURIO_TSQL_EXTENSION, else libcourio_tsql.so beside the running binary.
std::string TsqlExtensionPath();

class TDBManagerODBC : public IDBManager {
 public:
  static constexpr int kLoginTimeoutSeconds = 5;
  static constexpr int kQueryTimeoutSeconds = 30;

  TDBManagerODBC();
  ~TDBManagerODBC() override;
  TDBManagerODBC(const TDBManagerODBC&) = delete;
  TDBManagerODBC& operator=(const TDBManagerODBC&) = delete;

  // The connection string (OLE DB or ODBC) used by Open.
  void SetConnectionString(const std::string& text);
  // Closes the connection (a later statement or Open reopens it).
  void Close();
  // True when the open connection reaches the embedded SQLite POS.
  bool IsSqlite() const;
  // Text columns are fetched as UTF-16 (SQL_C_WCHAR) from every DBMS except
  // SQLite, whose driver returns UTF-8 as stored; this overrides the choice.
  void SetWideText(bool wide);

  bool IsConnected() override;
  void Open() override;
  bool BeginTransaction() override;
  bool RollbackTransaction() override;
  bool CommitTransaction() override;
  void OpenQuery(const std::string& sql, TDBQuery& query) override;
  void OpenQueryFmt(const std::string& format, std::initializer_list<TFmtArg> args, TDBQuery& query) override;
  void FreeQuery(TDBQuery& query) override;
  bool Execute(const std::string& sql) override;
  bool ExecuteFmt(const std::string& format, std::initializer_list<TFmtArg> args) override;
  bool ExecuteRows(const std::string& sql, long long& rowsAffected) override;
  bool ExecuteRowsFmt(const std::string& format, std::initializer_list<TFmtArg> args,
                      long long& rowsAffected) override;
  std::string QueryString(const std::string& sql, const std::string& fieldName) override;
  int QueryInteger(const std::string& sql, const std::string& fieldName) override;
  void QueryJSONFmt(const std::string& format, std::initializer_list<TFmtArg> args, std::string& json) override;
  std::string DateToSQL(TDateTime value) override;
  std::string DateTimeToSQL(TDateTime value) override;
  std::string TimeToSQL(TDateTime value) override;
  std::string GetLastError() override;

  // The JSON text of an open query's rows from its current row on ("null"
  // when it is at its end). Used by QueryJSONFmt; exposed for tools.
  static std::string QueryToJson(IDBQuery& query);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace courio
