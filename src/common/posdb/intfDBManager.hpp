#pragma once
// Folder common/posdb: the POS database manager on ODBC: connection and reconnection, statements
// and result sets, results as JSON, connection-string translation and the SQLite-only statement
// rewrite.
// May use: common/registry, common/di, common/log, common/util. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// Access to the point-of-sale database: one connection per manager, SQL text
// sent as given (no bound parameters), result sets handed out positioned on
// their first row, results as JSON text, and quoted date/time literals.
//
// Failure: a failing statement stores its message (GetLastError), writes it
// through the log manager and raises. A manager is used by one thread at a
// time.

#include <initializer_list>
#include <memory>
#include <string>

#include "common/util/DateTime.hpp"
#include "common/util/Format.hpp"
#include "common/di/intfInterface.hpp"

namespace courio {

// An open result set, positioned on its first row. Field lookups by name are
// case-insensitive; an unknown name raises.
class IDBQuery {
 public:
  virtual ~IDBQuery() = default;
  virtual bool Eof() const = 0;
  virtual void Next() = 0;
  virtual int FieldCount() const = 0;
  virtual std::string FieldName(int index) const = 0;
  virtual bool IsNull(const std::string& field) const = 0;
  virtual std::string AsString(const std::string& field) const = 0;
  virtual long long AsInteger(const std::string& field) const = 0;
  virtual double AsFloat(const std::string& field) const = 0;
  virtual TDateTime AsDateTime(const std::string& field) const = 0;
};
using TDBQuery = std::unique_ptr<IDBQuery>;

class IDBManager : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{00DC9F01-FBED-483A-9CCB-88C5E8C6BA51}");

  virtual bool IsConnected() = 0;
  // Reads the connection string from the registry and opens the connection.
  virtual void Connect() = 0;
  // Opens the connection with the string already set (used to retry).
  virtual void Open() = 0;
  virtual bool BeginTransaction() = 0;
  virtual bool RollbackTransaction() = 0;
  virtual bool CommitTransaction() = 0;
  virtual void OpenQuery(const std::string& sql, TDBQuery& query) = 0;
  virtual void OpenQueryFmt(const std::string& format, std::initializer_list<TFmtArg> args, TDBQuery& query) = 0;
  virtual void FreeQuery(TDBQuery& query) = 0;
  virtual bool Execute(const std::string& sql) = 0;
  virtual bool ExecuteFmt(const std::string& format, std::initializer_list<TFmtArg> args) = 0;
  virtual bool ExecuteRows(const std::string& sql, long long& rowsAffected) = 0;
  virtual bool ExecuteRowsFmt(const std::string& format, std::initializer_list<TFmtArg> args,
                              long long& rowsAffected) = 0;
  // The named column of the first row as text; "" when there is no row.
  virtual std::string QueryString(const std::string& sql, const std::string& fieldName) = 0;
  // The named column of the first row as an integer; 0 when there is no row.
  virtual int QueryInteger(const std::string& sql, const std::string& fieldName) = 0;
  // The whole result as JSON text: "null" for no rows, else an array of objects.
  virtual void QueryJSONFmt(const std::string& format, std::initializer_list<TFmtArg> args, std::string& json) = 0;
  virtual std::string DateToSQL(TDateTime value) = 0;      // 'yyyy-mm-dd'
  virtual std::string DateTimeToSQL(TDateTime value) = 0;  // 'yyyy-mm-dd hh:nn:ss'
  virtual std::string TimeToSQL(TDateTime value) = 0;      // 'hh:nn:ss'
  virtual std::string GetLastError() = 0;
};
using IDBManagerPtr = std::shared_ptr<IDBManager>;

}  // namespace courio
