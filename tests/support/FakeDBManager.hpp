#pragma once
// A scriptable IDBManager for framework tests that need no real POS: it
// counts calls, can refuse connections, and answers QueryInteger/QueryString
// from a callback.

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/posdb/intfDBManager.hpp"

namespace courio::test {

class TFakeDBManager : public IDBManager {
 public:
  std::atomic<bool> connected{false};
  std::atomic<int> openAttempts{0};
  std::atomic<int> connectsBeforeSuccess{0};  // Connect/Open fail this many times
  std::function<std::string(const std::string& sql)> answer;  // QueryString/QueryInteger/QueryJSONFmt
  std::mutex mutex;
  std::vector<std::string> statements;  // guarded by mutex

  bool IsConnected() override { return connected; }
  void Connect() override { Open(); }
  void Open() override {
    ++openAttempts;
    if (connectsBeforeSuccess > 0) {
      --connectsBeforeSuccess;
      throw std::runtime_error("[FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable");
    }
    connected = true;
  }
  bool BeginTransaction() override { return Execute("BEGIN TRANSACTION"); }
  bool RollbackTransaction() override { return Execute("ROLLBACK TRANSACTION"); }
  bool CommitTransaction() override { return Execute("COMMIT TRANSACTION"); }
  void OpenQuery(const std::string& sql, TDBQuery&) override { Record(sql); throw std::runtime_error("no result sets here"); }
  void OpenQueryFmt(const std::string& f, std::initializer_list<TFmtArg> a, TDBQuery& q) override {
    OpenQuery(FormatFmt(f, a), q);
  }
  void FreeQuery(TDBQuery& q) override { q.reset(); }
  bool Execute(const std::string& sql) override {
    Record(sql);
    return true;
  }
  bool ExecuteFmt(const std::string& f, std::initializer_list<TFmtArg> a) override { return Execute(FormatFmt(f, a)); }
  bool ExecuteRows(const std::string& sql, long long& rows) override {
    rows = 0;
    return Execute(sql);
  }
  bool ExecuteRowsFmt(const std::string& f, std::initializer_list<TFmtArg> a, long long& rows) override {
    return ExecuteRows(FormatFmt(f, a), rows);
  }
  std::string QueryString(const std::string& sql, const std::string&) override { return Answer(sql); }
  int QueryInteger(const std::string& sql, const std::string&) override {
    std::string a = Answer(sql);
    return a.empty() ? 0 : std::stoi(a);
  }
  void QueryJSONFmt(const std::string& f, std::initializer_list<TFmtArg> a, std::string& json) override {
    json = Answer(FormatFmt(f, a));
  }
  std::string DateToSQL(TDateTime v) override { return "'" + FormatDateTime("yyyy-mm-dd", v) + "'"; }
  std::string DateTimeToSQL(TDateTime v) override { return "'" + FormatDateTime("yyyy-mm-dd hh:nn:ss", v) + "'"; }
  std::string TimeToSQL(TDateTime v) override { return "'" + FormatDateTime("hh:nn:ss", v) + "'"; }
  std::string GetLastError() override { return ""; }

  std::vector<std::string> Statements() {
    std::lock_guard lock(mutex);
    return statements;
  }

 private:
  void Record(const std::string& sql) {
    std::lock_guard lock(mutex);
    statements.push_back(sql);
  }
  std::string Answer(const std::string& sql) {
    Record(sql);
    if (!connected) throw std::runtime_error("Communication link failure");
    return answer ? answer(sql) : std::string();
  }
};

}  // namespace courio::test
