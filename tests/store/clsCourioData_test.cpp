#include "store/clsCourioData.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <thread>

#include "common/util/Json.hpp"
#include "support/TestSupport.hpp"

namespace courio {
namespace {

// Runs SQL on the file with a separate plain connection (as an old version or
// a technician's sqlite3 would).
std::vector<std::vector<std::string>> Query(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  std::vector<std::vector<std::string>> rows;
  sqlite3_exec(
      db, sql.c_str(),
      [](void* out, int n, char** values, char**) {
        auto* r = static_cast<std::vector<std::vector<std::string>>*>(out);
        r->emplace_back();
        for (int i = 0; i < n; ++i) r->back().push_back(values[i] ? values[i] : "<null>");
        return 0;
      },
      &rows, nullptr);
  sqlite3_close(db);
  return rows;
}

void Exec(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  char* err = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_close(db);
}

class DataStoreTest : public ::testing::Test {
 protected:
  std::string File() const { return dir_.File("CourioSvc.db3"); }
  test::TempDir dir_;
};

TEST_F(DataStoreTest, FirstStartCreatesTheFourTablesWithTheirExactStatementsAndNoRows) {
  { TCourioDataStore store(File()); }
  auto rows = Query(File(), "SELECT name, sql FROM sqlite_master WHERE type='table' AND name <> 'sqlite_sequence' ORDER BY rowid");
  std::vector<std::vector<std::string>> expected = {
      {"Settings", "CREATE TABLE Settings(ID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT COLLATE SYSTEMNOCASE, Value TEXT COLLATE NOCASE)"},
      {"InvoiceEvent", "CREATE TABLE InvoiceEvent(ID INTEGER PRIMARY KEY AUTOINCREMENT, InvoiceNum INTEGER, Timestamp TEXT COLLATE ISO8601, EventType INTEGER, EventData TEXT COLLATE NOCASE, UploadStatus INTEGER, UploadTimestamp TEXT COLLATE ISO8601)"},
      {"RemoteEvent", "CREATE TABLE RemoteEvent(ID INTEGER PRIMARY KEY AUTOINCREMENT, InvoiceNum INTEGER, Timestamp TEXT COLLATE ISO8601, EventType INTEGER, EventData TEXT COLLATE NOCASE, AppliedStatus INTEGER, AppliedTimestamp TEXT COLLATE ISO8601)"},
      {"DriverEvent", "CREATE TABLE DriverEvent(ID INTEGER PRIMARY KEY AUTOINCREMENT, EmpNum TEXT COLLATE SYSTEMNOCASE, Timestamp TEXT COLLATE ISO8601, EventType INTEGER, EventData TEXT COLLATE NOCASE, UploadStatus INTEGER, UploadTimestamp TEXT COLLATE ISO8601)"},
  };
  EXPECT_EQ(rows, expected);
  for (const char* t : {"Settings", "InvoiceEvent", "RemoteEvent", "DriverEvent"})
    EXPECT_EQ(Query(File(), std::string("SELECT count(*) FROM ") + t)[0][0], "0") << t;
  EXPECT_EQ(Query(File(), "PRAGMA journal_mode")[0][0], "wal");
  // Lookups by invoice number and pending status use an index, not a scan.
  auto plan = [&](const std::string& sql) {
    std::string all;
    for (const auto& row : Query(File(), "EXPLAIN QUERY PLAN " + sql)) all += row.back() + ";";
    return all;
  };
  EXPECT_NE(plan("SELECT * FROM InvoiceEvent WHERE InvoiceNum = 5 AND EventType = 3").find("USING INDEX"), std::string::npos);
  EXPECT_NE(plan("SELECT * FROM InvoiceEvent WHERE UploadStatus = 0 ORDER BY ID LIMIT 1").find("USING INDEX"), std::string::npos);
  EXPECT_NE(plan("SELECT * FROM DriverEvent WHERE UploadStatus = 0 ORDER BY ID LIMIT 1").find("USING INDEX"), std::string::npos);
}

TEST_F(DataStoreTest, AFileLackingAColumnGetsItWithExistingRowsAndExtraColumnsUntouched) {
  Exec(File(), "CREATE TABLE RemoteEvent(ID INTEGER PRIMARY KEY AUTOINCREMENT, InvoiceNum INTEGER, Timestamp TEXT, "
               "EventType INTEGER, EventData TEXT, AppliedStatus INTEGER, Extra TEXT);"
               "INSERT INTO RemoteEvent(InvoiceNum,Timestamp,EventType,EventData,AppliedStatus,Extra) "
               "VALUES(1045,'2024-03-05T14:07:09',1,'{}',1,'kept');");
  TCourioDataStore store(File());
  TSQLRemoteEvent e;
  ASSERT_TRUE(store.GetORM().Retrieve("InvoiceNum = ?", {1045}, e));
  EXPECT_EQ(e.AppliedStatus, 1);
  EXPECT_EQ(e.AppliedTimestamp, 0) << "the added column is empty";
  EXPECT_EQ(DateTimeToIso(e.Timestamp), "2024-03-05T14:07:09");
  EXPECT_EQ(Query(File(), "SELECT Extra, AppliedTimestamp FROM RemoteEvent")[0],
            (std::vector<std::string>{"kept", "<null>"}));
}

TEST_F(DataStoreTest, SettingsNameComparesWithoutRegardToCaseAndConditionsTakeArguments) {
  TCourioDataStore store(File());
  TSQLSettings row;
  row.Name = "store";
  row.Value = {{"id", 17}};
  store.GetORM().Add(row);
  EXPECT_GT(row.ID, 0);
  TSQLSettings found;
  ASSERT_TRUE(store.GetORM().Retrieve("NAME = 'Store' ", {}, found));
  EXPECT_EQ(found.ID, row.ID);
  EXPECT_EQ(JsonAsInt(JsonGet(found.Value, "id")), 17);
  TSQLSettings byArgs;
  EXPECT_TRUE(store.GetORM().Retrieve("Name = ? AND ID = %", {"STORE", row.ID}, byArgs));
  EXPECT_FALSE(store.GetORM().Retrieve("Name = ?", {"Stores"}, byArgs));
}

TEST_F(DataStoreTest, TimesKeepWholeSecondsAndUpdateWritesTheWholeRow) {
  TCourioDataStore store(File());
  TSQLInvoiceEvent e;
  e.InvoiceNum = 1045;
  e.Timestamp = EncodeDateTime(2024, 3, 5, 14, 7, 9, 600);
  e.EventType = 2;
  e.EventData = R"({"InvoiceNum":1045})";
  store.GetORM().Add(e);
  e.UploadStatus = 1;
  e.UploadTimestamp = EncodeDateTime(2024, 3, 5, 14, 8, 0);
  ASSERT_TRUE(store.GetORM().Update(e));
  TSQLInvoiceEvent back;
  ASSERT_TRUE(store.GetORM().Retrieve("ID = %", {e.ID}, back));
  EXPECT_EQ(DateTimeToIso(back.Timestamp), "2024-03-05T14:07:09");
  EXPECT_EQ(back.Timestamp, EncodeDateTime(2024, 3, 5, 14, 7, 9)) << "the fraction is gone";
  EXPECT_EQ(back.UploadStatus, 1);
  EXPECT_EQ(back.EventData, e.EventData);
  EXPECT_EQ(Query(File(), "SELECT Timestamp, UploadTimestamp FROM InvoiceEvent")[0],
            (std::vector<std::string>{"2024-03-05T14:07:09", "2024-03-05T14:08:00"}));
}

TEST_F(DataStoreTest, Iso8601CollationOrdersAsDateTimes) {
  TCourioDataStore store(File());
  for (const char* t : {"2024-03-05T14:07:09", "2024-03-05", "2024-03-05 09:00:00"}) {
    TSQLDriverEvent e;
    e.EmpNum = t;
    e.Timestamp = IsoToDateTime(t);
    store.GetORM().Add(e);
  }
  // Rewrite one stamp in the other accepted form to show the collation, not the text, orders.
  store.GetDatabase().Execute("UPDATE DriverEvent SET Timestamp='2024-03-05 09:00:00' WHERE ID=3");
  std::string json = store.GetDatabase().ExecuteJSON("SELECT ID FROM DriverEvent ORDER BY Timestamp");
  EXPECT_EQ(json, R"([{"ID":2},{"ID":3},{"ID":1}])");
}

TEST_F(DataStoreTest, RawStatementsAnswerRowsNoRowsOrRejection) {
  TCourioDataStore store(File());
  TSQLiteDatabase& db = store.GetDatabase();
  db.Lock();
  db.Execute("INSERT INTO Settings(Name,Value) VALUES('A','{}'),('B','{}'),('C','{}')");
  EXPECT_EQ(db.LastChangeCount(), 3);
  db.UnLock();
  EXPECT_EQ(db.ExecuteJSON("SELECT Name FROM Settings WHERE Name <> 'A'"), R"([{"Name":"B"},{"Name":"C"}])");
  EXPECT_EQ(db.ExecuteJSON("SELECT * FROM Settings WHERE 1=0"), "{}");
  EXPECT_EQ(db.ExecuteJSON("SELECT * FROM Nowhere"), "");
  EXPECT_THROW(db.Execute("DELETE FROM Nowhere"), ESQLiteError);
}

TEST_F(DataStoreTest, AFileThatIsNotADatabaseFailsNamingItAndIsLeftAlone) {
  std::string garbage(4096, 'x');
  test::WriteFile(File(), garbage);
  try {
    TCourioDataStore store(File());
    FAIL() << "opening a non-database must fail";
  } catch (const ESQLiteError& e) {
    EXPECT_NE(std::string(e.what()).find(File()), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("not a database"), std::string::npos) << e.what();
  }
  EXPECT_EQ(test::ReadFile(File()), garbage);
}

TEST_F(DataStoreTest, AnUnusableFolderFailsNamingTheFile) {
  test::WriteFile(dir_.File("not-a-folder"), "x");
  std::string file = dir_.File("not-a-folder") + "/CourioSvc.db3";
  try {
    TCourioDataStore store(file);
    FAIL() << "opening inside a non-folder must fail";
  } catch (const ESQLiteError& e) {
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
  }
}

TEST_F(DataStoreTest, ATransactionCommitsEverythingOrNothing) {
  TCourioDataStore store(File());
  TSQLInvoiceEvent e;
  e.InvoiceNum = 1;
  TSQLSettings progress;
  progress.Name = "NewInvoice";
  store.GetORM().Add(progress);
  EXPECT_THROW(store.GetORM().InTransaction([&] {
    store.GetORM().Add(e);
    progress.Value["LastInvoice"] = 1;
    store.GetORM().Update(progress);
    throw std::runtime_error("the commit never comes");
  }),
               std::runtime_error);
  EXPECT_EQ(Query(File(), "SELECT count(*) FROM InvoiceEvent")[0][0], "0");
  EXPECT_EQ(Query(File(), "SELECT Value FROM Settings")[0][0], "{}");
  store.GetORM().InTransaction([&] {
    store.GetORM().InTransaction([&] { store.GetORM().Add(e); });  // nested: commits with the outer one
    store.GetORM().Update(progress);
  });
  EXPECT_EQ(Query(File(), "SELECT count(*) FROM InvoiceEvent")[0][0], "1");
  EXPECT_EQ(Query(File(), "SELECT Value FROM Settings")[0][0], R"({"LastInvoice":1})");
}

TEST_F(DataStoreTest, ConcurrentWritersNeverRecordTheSameEventTwice) {
  TCourioDataStore store(File());
  constexpr int kThreads = 4, kInvoices = 150;
  std::atomic<int> added{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      for (int n = 0; n < kInvoices; ++n) {
        TSQLInvoiceEvent e;
        e.InvoiceNum = n;
        e.EventType = 1;
        e.EventData = "from " + std::to_string(t);
        if (store.GetORM().AddIfNone("InvoiceNum = %", {n}, e)) ++added;
        TSQLDriverEvent d;  // plain adds interleave with the checked ones
        d.EmpNum = std::to_string(t);
        store.GetORM().Add(d);
      }
    });
  for (auto& w : writers) w.join();
  EXPECT_EQ(added, kInvoices);
  EXPECT_EQ(Query(File(), "SELECT count(*), count(DISTINCT InvoiceNum) FROM InvoiceEvent")[0],
            (std::vector<std::string>{std::to_string(kInvoices), std::to_string(kInvoices)}));
  EXPECT_EQ(Query(File(), "SELECT count(*) FROM DriverEvent")[0][0], std::to_string(kThreads * kInvoices));
}

}  // namespace
}  // namespace courio
