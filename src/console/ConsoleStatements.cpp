#include "console/ConsoleStatements.hpp"

#include <sqlite3.h>

namespace courio {
namespace {

struct TWatch {
  const std::atomic<bool>* stopping;
  std::chrono::steady_clock::time_point deadline;
};

// Called by SQLite every few thousand steps of a running statement; a
// non-zero answer interrupts it.
int Interrupt(void* context) {
  const auto* watch = static_cast<const TWatch*>(context);
  return *watch->stopping || std::chrono::steady_clock::now() > watch->deadline ? 1 : 0;
}

}  // namespace

template <typename Body>
void TConsoleStatements::Guarded(const std::string& sql, Body body) {
  if (sql.find_first_not_of(" \t\r\n") == std::string::npos) throw EConsoleStatement("The query is empty");
  db_.WithHandle([&](sqlite3* handle) {
    TWatch watch{&stopping_, std::chrono::steady_clock::now() + timeLimit_};
    bool wasAutoCommit = sqlite3_get_autocommit(handle) != 0;
    sqlite3_progress_handler(handle, 1000, Interrupt, &watch);
    std::string failure;
    try {
      body(handle);
    } catch (const std::exception& e) {
      failure = e.what();
    }
    sqlite3_progress_handler(handle, 0, nullptr, nullptr);
    if (wasAutoCommit && sqlite3_get_autocommit(handle) == 0) {
      sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
      if (failure.empty()) failure = "The statement left a transaction open; it was rolled back";
      else failure += " (the transaction it opened was rolled back)";
    }
    if (!failure.empty()) throw EConsoleStatement(failure);
  });
}

long long TConsoleStatements::Execute(const std::string& sql) {
  long long changed = 0;
  Guarded(sql, [&](sqlite3* handle) {
    long long before = sqlite3_total_changes64(handle);
    db_.Execute(sql);
    changed = sqlite3_total_changes64(handle) - before;
  });
  return changed;
}

std::string TConsoleStatements::ExecuteJSON(const std::string& sql) {
  std::string json;
  Guarded(sql, [&](sqlite3* handle) {
    json = db_.ExecuteJSON(sql);
    if (json.empty()) throw EConsoleStatement(std::string("The database rejected the query: ") + sqlite3_errmsg(handle));
  });
  return json;
}

}  // namespace courio
