#include "store/CourioORM.hpp"

#include <memory>
#include <set>
#include <variant>
#include <vector>

#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

using TStmt = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

TStmt Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
    throw ESQLiteError(std::string(sqlite3_errmsg(db)) + " in \"" + sql + "\"", sqlite3_errcode(db));
  return TStmt(s, &sqlite3_finalize);
}

void Step(sqlite3* db, sqlite3_stmt* s, const char* what) {
  int rc = sqlite3_step(s);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw ESQLiteError(std::string(what) + " failed: " + sqlite3_errmsg(db), rc);
}

std::string ColumnList(const TSQLRecord& r) {
  std::string s = "ID";
  for (const auto& c : r.Columns()) s += std::string(",") + c.name;
  return s;
}

// Fills "%" inline and collects the "?" arguments in order.
std::string ExpandWhere(const std::string& where, std::initializer_list<TFmtArg> args,
                        std::vector<const TFmtArg*>& bound) {
  std::string out;
  auto next = args.begin();
  for (char c : where) {
    if ((c == '%' || c == '?') && next != args.end()) {
      if (c == '%')
        out += next->Text();
      else {
        out += '?';
        bound.push_back(&*next);
      }
      ++next;
    } else {
      out += c;
    }
  }
  return out;
}

void BindArg(sqlite3_stmt* s, int i, const TFmtArg& a) {
  const auto& v = a.Value();
  if (auto* n = std::get_if<long long>(&v))
    sqlite3_bind_int64(s, i, *n);
  else if (auto* d = std::get_if<double>(&v))
    sqlite3_bind_double(s, i, *d);
  else {
    const auto& t = std::get<std::string>(v);
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
  }
}

}  // namespace

bool TCourioORM::RetrieveLocked(sqlite3* db, const std::string& where, std::initializer_list<TFmtArg> args,
                                TSQLRecord& record) {
  std::vector<const TFmtArg*> bound;
  std::string sql = "SELECT " + ColumnList(record) + " FROM " + record.TableName() + " WHERE " +
                    ExpandWhere(where, args, bound) + " LIMIT 1";
  TStmt s = Prepare(db, sql);
  for (size_t i = 0; i < bound.size(); ++i) BindArg(s.get(), static_cast<int>(i + 1), *bound[i]);
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) throw ESQLiteError(std::string("Retrieve failed: ") + sqlite3_errmsg(db), rc);
  record.ID = sqlite3_column_int64(s.get(), 0);
  record.Load(s.get(), 1);
  return true;
}

long long TCourioORM::AddLocked(sqlite3* db, TSQLRecord& record) {
  std::string cols, marks;
  for (const auto& c : record.Columns()) {
    cols += (cols.empty() ? "" : ",") + std::string(c.name);
    marks += marks.empty() ? "?" : ",?";
  }
  TStmt s = Prepare(db, std::string("INSERT INTO ") + record.TableName() + "(" + cols + ") VALUES(" + marks + ")");
  record.Bind(s.get(), 1);
  Step(db, s.get(), "Add");
  record.ID = sqlite3_last_insert_rowid(db);
  return record.ID;
}

bool TCourioORM::Retrieve(const std::string& where, std::initializer_list<TFmtArg> args, TSQLRecord& record) {
  bool found = false;
  db_.WithHandle([&](sqlite3* db) { found = RetrieveLocked(db, where, args, record); });
  return found;
}

long long TCourioORM::Add(TSQLRecord& record) {
  db_.WithHandle([&](sqlite3* db) { AddLocked(db, record); });
  return record.ID;
}

bool TCourioORM::Update(const TSQLRecord& record) {
  bool changed = false;
  db_.WithHandle([&](sqlite3* db) {
    std::string sets;
    for (const auto& c : record.Columns()) sets += (sets.empty() ? "" : ",") + std::string(c.name) + "=?";
    TStmt s = Prepare(db, std::string("UPDATE ") + record.TableName() + " SET " + sets + " WHERE ID=?");
    record.Bind(s.get(), 1);
    sqlite3_bind_int64(s.get(), static_cast<int>(record.Columns().size()) + 1, record.ID);
    Step(db, s.get(), "Update");
    changed = sqlite3_changes(db) > 0;
  });
  return changed;
}

bool TCourioORM::AddIfNone(const std::string& where, std::initializer_list<TFmtArg> args, TSQLRecord& record,
                           TSQLRecord* existing) {
  bool added = false;
  db_.WithHandle([&](sqlite3* db) {
    // A scratch copy of the same table's record receives the match.
    struct TProbe final : TSQLRecord {
      const TSQLRecord& shape;
      explicit TProbe(const TSQLRecord& s) : shape(s) {}
      const char* TableName() const override { return shape.TableName(); }
      const std::vector<TColumn>& Columns() const override { return shape.Columns(); }
      void Bind(sqlite3_stmt*, int) const override {}
      void Load(sqlite3_stmt*, int) override {}
    } probe(record);
    TSQLRecord& target = existing ? *existing : static_cast<TSQLRecord&>(probe);
    if (RetrieveLocked(db, where, args, target)) return;
    AddLocked(db, record);
    added = true;
  });
  return added;
}

void TCourioORM::InTransaction(const std::function<void()>& body) {
  std::lock_guard lock(db_.Mutex());
  if (transactionDepth_ > 0) {
    body();
    return;
  }
  db_.Execute("BEGIN IMMEDIATE");
  ++transactionDepth_;
  try {
    body();
  } catch (...) {
    --transactionDepth_;
    try {
      db_.Execute("ROLLBACK");
    } catch (...) {
    }
    throw;
  }
  --transactionDepth_;
  db_.Execute("COMMIT");
}

void TCourioORM::CreateMissingTables(std::initializer_list<const TSQLRecord*> records) {
  db_.WithHandle([&](sqlite3* db) {
    for (const TSQLRecord* r : records) {
      std::set<std::string> present;
      {
        TStmt s = Prepare(db, std::string("PRAGMA table_info(") + r->TableName() + ")");
        while (sqlite3_step(s.get()) == SQLITE_ROW)
          present.insert(LowerAscii(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1))));
      }
      if (present.empty()) {
        db_.Execute(r->CreateStatement());
        continue;
      }
      for (const auto& c : r->Columns())
        if (!present.count(LowerAscii(c.name)))
          db_.Execute(std::string("ALTER TABLE ") + r->TableName() + " ADD COLUMN " + c.name + " " + c.type + ";");
    }
  });
}

}  // namespace courio
