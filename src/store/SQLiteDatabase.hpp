#pragma once
// One SQLite connection behind one (recursive) lock, with the collations
// SYSTEMNOCASE and ISO8601 registered so files made by earlier versions stay
// readable. The local store's record layer and the admin console both use it;
// the console takes the lock around its own statements.
//
// Thread-safety: every operation takes the lock; Lock/UnLock let a caller
// hold it across several operations.

#include <sqlite3.h>

#include <functional>
#include <mutex>
#include <string>

namespace courio {

class ESQLiteError : public std::runtime_error {
 public:
  ESQLiteError(const std::string& message, int code) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

class TSQLiteDatabase {
 public:
  // Opens (or creates) the file; WAL journal, synchronous FULL, 5 s busy
  // time-out. Throws ESQLiteError naming the file when it cannot be opened or
  // is not an SQLite database.
  explicit TSQLiteDatabase(const std::string& fileName);
  ~TSQLiteDatabase();
  TSQLiteDatabase(const TSQLiteDatabase&) = delete;
  TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

  void Lock() { mutex_.lock(); }
  void UnLock() { mutex_.unlock(); }
  std::recursive_mutex& Mutex() { return mutex_; }

  const std::string& FileName() const { return fileName_; }
  // Runs SQL text (one or more statements); throws ESQLiteError when rejected.
  void Execute(const std::string& sql);
  // Runs one statement and returns its rows as a JSON array of objects
  // (columns in select order); "{}" when it yields no row; "" when rejected.
  std::string ExecuteJSON(const std::string& sql);
  // Rows changed by the most recent modifying statement.
  long long LastChangeCount();
  // Runs `body` with the lock held and the raw handle.
  void WithHandle(const std::function<void(sqlite3*)>& body);

 private:
  void Check(int rc, const std::string& what);

  std::recursive_mutex mutex_;
  sqlite3* db_ = nullptr;  // guarded by mutex_
  std::string fileName_;
};

}  // namespace courio
