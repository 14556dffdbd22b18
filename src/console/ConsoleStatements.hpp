#pragma once
// The console's statements on the local store. Each runs under the store's
// lock (so it never interleaves with a tracker's or the uploader's use of the
// connection) and leaves the store as usable as it found it:
//  - a statement that runs longer than the time limit, or is still running
//    when the console stops, is interrupted (it fails like a rejected one);
//  - a transaction the text opens but does not close is rolled back and the
//    statement fails, so the other users never find a transaction open;
//  - the lock is released on every path.
//
// Thread-safe: any request thread may call; the store's lock serialises.
// Failure: a rejected, interrupted or unfinished statement throws
// EConsoleStatement with the database's reason.

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>

#include "store/SQLiteDatabase.hpp"

namespace courio {

class EConsoleStatement : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TConsoleStatements {
 public:
  // `stopping` is watched while statements run; it must outlive this object.
  TConsoleStatements(TSQLiteDatabase& db, const std::atomic<bool>& stopping, std::chrono::milliseconds timeLimit)
      : db_(db), stopping_(stopping), timeLimit_(timeLimit) {}

  // Runs SQL text (one or more statements) and returns how many rows it
  // inserted, updated or deleted.
  long long Execute(const std::string& sql);
  // Runs one statement and returns its rows as JSON text: an array of row
  // objects, or "{}" when it yields no row.
  std::string ExecuteJSON(const std::string& sql);

 private:
  template <typename Body>
  void Guarded(const std::string& sql, Body body);

  TSQLiteDatabase& db_;
  const std::atomic<bool>& stopping_;
  std::chrono::milliseconds timeLimit_;
};

}  // namespace courio
