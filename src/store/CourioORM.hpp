#pragma once
// The record layer over the local store's connection. Conditions are SQL
// WHERE texts: each "%" is replaced by the text of the next argument, each
// "?" is bound to the next argument as a value. Every call runs as one unit
// under the connection's lock.

#include <functional>
#include <initializer_list>
#include <string>

#include "common/util/Format.hpp"
#include "store/CourioRecords.hpp"
#include "store/SQLiteDatabase.hpp"

namespace courio {

class TCourioORM {
 public:
  explicit TCourioORM(TSQLiteDatabase& db) : db_(db) {}

  // Reads the first row matching the condition (" LIMIT 1" is appended).
  bool Retrieve(const std::string& where, std::initializer_list<TFmtArg> args, TSQLRecord& record);
  // Inserts the record; the new ID is stored back into it.
  long long Add(TSQLRecord& record);
  // Writes every column of the row with the record's ID.
  bool Update(const TSQLRecord& record);
  // Atomic check-and-insert: when a row of `record`'s table matches the
  // condition it is read into `existing` (when given) and nothing is
  // inserted; otherwise `record` is added. Returns true when it was added.
  bool AddIfNone(const std::string& where, std::initializer_list<TFmtArg> args, TSQLRecord& record,
                 TSQLRecord* existing = nullptr);

  // Runs `body` as one transaction under the connection's lock: everything it
  // writes is committed together (one sync to disk) or, when it throws, not
  // at all. Calls may nest; only the outermost commits.
  void InTransaction(const std::function<void()>& body);

  // Creates missing tables and adds missing columns (existing rows untouched).
  void CreateMissingTables(std::initializer_list<const TSQLRecord*> records);

 private:
  bool RetrieveLocked(sqlite3* db, const std::string& where, std::initializer_list<TFmtArg> args, TSQLRecord& rec);
  long long AddLocked(sqlite3* db, TSQLRecord& record);

  TSQLiteDatabase& db_;
  int transactionDepth_ = 0;  // guarded by the connection's lock
};

}  // namespace courio
