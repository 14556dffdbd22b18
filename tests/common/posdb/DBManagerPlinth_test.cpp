#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "pos/PosTestSupport.hpp"
#include "common/util/Errors.hpp"
#include "common/util/Json.hpp"

// The SQLite3 ODBC driver does not free the message of an extension that
// failed to load (AMissingCompatibilityExtensionIsAClearError provokes it).
// Its stack is only seen whole with the slow unwinder (sanitizer builds).
extern "C" const char* __lsan_default_suppressions() { return "leak:sqlite3_load_extension\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace courio::test {
namespace {

namespace fs = std::filesystem;

using DBManagerTest = PosFixture;

// Text is fetched as UTF-8 from SQLite and as UTF-16 from other servers; both
// roads must give the same JSON.
TEST_F(DBManagerTest, JsonGivesEachColumnKindItsForm) {
  Sql("CREATE TABLE KINDS (ID INTEGER, T VARCHAR(60), B BIT, I INTEGER, BI BIGINT, F FLOAT, D DATE, TM TIME, "
      "DT DATETIME, BL BLOB);"
      "INSERT INTO KINDS VALUES (1, 'say \"hi\" \\ a' || char(13,10) || 'b' || char(9,1), 1, -7, 1234567890123, "
      "0.1 + 0.2, '2024-01-31', '14:05:09', '2024-01-31 14:05:09', x'00FF10');"
      "INSERT INTO KINDS VALUES (2, 'O''Brien Chlo\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80', 0, 0, 0, "
      "0, NULL, NULL, '2024-01-31 00:00:00', x'');"
      "INSERT INTO KINDS VALUES (3, NULL, NULL, NULL, NULL, 123456789.123456789, NULL, NULL, '2024-01-31 "
      "14:05:09.600', NULL);"
      "INSERT INTO KINDS (ID, T, BL) VALUES (4, hex(zeroblob(10000)), zeroblob(20000));");
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "UTF-16 text" : "UTF-8 text");
    auto db = Connect();
    std::dynamic_pointer_cast<TDBManagerODBC>(db)->SetWideText(wide);
    std::string json;
    db->QueryJSONFmt("SELECT * FROM KINDS WHERE ID <= %d ORDER BY ID", {3}, json);
    EXPECT_EQ(json,
              "[{\"ID\":1,\"T\":\"say \\\"hi\\\" \\\\ a\\r\\nb\\t\\u0001\",\"B\":true,\"I\":-7,\"BI\":1234567890123,"
              "\"F\":0.3,\"D\":\"2024-01-31\",\"TM\":\"T14:05:09\",\"DT\":\"2024-01-31T14:05:09\","
              "\"BL\":\"\xEF\xBF\xB0" "AP8Q\"},"
              "{\"ID\":2,\"T\":\"O'Brien Chlo\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\",\"B\":false,\"I\":0,"
              "\"BI\":0,\"F\":0,\"D\":null,\"TM\":null,\"DT\":\"2024-01-31\",\"BL\":null},"
              "{\"ID\":3,\"T\":null,\"B\":null,\"I\":null,\"BI\":null,\"F\":123456789.123457,\"D\":null,\"TM\":null,"
              "\"DT\":\"2024-01-31T14:05:09\",\"BL\":null}]");
    // The text is valid JSON that reads back to the stored values.
    TJson parsed = ParseJson(json);
    EXPECT_EQ(parsed[0]["T"], "say \"hi\" \\ a\r\nb\t\x01");

    // Values longer than one read of the driver arrive whole.
    db->QueryJSONFmt("SELECT T, BL FROM KINDS WHERE ID = %d", {4}, json);
    TJson big = ParseJson(json);
    EXPECT_EQ(big[0]["T"], std::string(20000, '0'));
    std::string base64;
    for (int k = 0; k < 6666; ++k) base64 += "AAAA";
    EXPECT_EQ(big[0]["BL"], "\xEF\xBF\xB0" + base64 + "AAA=");
  }
}

TEST_F(DBManagerTest, EmptyResultsGiveNullZeroAndEmptyText) {
  auto db = Connect();
  std::string json = "unchanged";
  db->QueryJSONFmt("SELECT * FROM INVOICES WHERE InvoiceNum = %d", {-5}, json);
  EXPECT_EQ(json, "null");
  EXPECT_EQ(db->QueryInteger("SELECT InvoiceNum FROM INVOICES WHERE InvoiceNum < 0", "InvoiceNum"), 0);
  EXPECT_EQ(db->QueryString("SELECT Driver FROM INVOICES WHERE InvoiceNum < 0", "Driver"), "");
  // With a row: the named column (any case); an unknown name raises.
  EXPECT_EQ(db->QueryInteger("SELECT COUNT(1) AS N FROM EMPLOYEE", "n"), 5);
  EXPECT_EQ(db->QueryString("SELECT VALUE FROM SYSDATA WHERE ITEM = 'DAY START'", "Value"), "06:00");
  EXPECT_THROW(db->QueryString("SELECT VALUE FROM SYSDATA", "NoSuchField"), EDBError);
}

TEST_F(DBManagerTest, LiteralFormattersQuoteTheirForms) {
  auto db = Connect();
  TDateTime t = EncodeDateTime(2024, 1, 31, 14, 5, 9, 600);
  EXPECT_EQ(db->DateTimeToSQL(t), "'2024-01-31 14:05:09'");
  EXPECT_EQ(db->DateToSQL(t), "'2024-01-31'");
  EXPECT_EQ(db->TimeToSQL(t), "'14:05:09'");
  EXPECT_EQ(db->DateToSQL(EncodeDateTime(2024, 3, 5)), "'2024-03-05'");
  EXPECT_EQ(db->TimeToSQL(EncodeDateTime(2024, 3, 5)), "'00:00:00'");
  // The literals compare as the stored times do.
  Sql("UPDATE INVOICES SET TimeToDrvr = '2024-01-31 14:05:09.600' WHERE InvoiceNum = 1002");
  EXPECT_EQ(db->QueryInteger("SELECT COUNT(1) AS N FROM INVOICES WHERE InvoiceNum = 1002 AND TimeToDrvr >= " + db->DateTimeToSQL(t), "N"),
            1);
  EXPECT_EQ(db->QueryInteger(
                "SELECT COUNT(1) AS N FROM INVOICES WHERE InvoiceNum = 1002 AND TimeToDrvr >= " +
                                     db->DateTimeToSQL(IncSecond(t, 1)),
                                 "N"),
            0);
}

TEST_F(DBManagerTest, AFailingStatementKeepsItsMessageLogsItAloneAndRaises) {
  auto db = Connect();
  EXPECT_EQ(db->GetLastError(), "");
  std::string raised;
  try {
    db->Execute("UPDATE NO_SUCH_TABLE SET X = 1");
  } catch (const EDBError& e) {
    raised = e.what();
  }
  ASSERT_FALSE(raised.empty());
  EXPECT_NE(raised.find("NO_SUCH_TABLE"), std::string::npos);
  EXPECT_EQ(db->GetLastError(), raised);
  auto lines = logModule->Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], raised);
  // A later good statement does not clear it; a query failure replaces it.
  EXPECT_TRUE(db->Execute("UPDATE INVOICES SET Status = 1 WHERE InvoiceNum = 1001"));
  EXPECT_EQ(db->GetLastError(), raised);
  TDBQuery q;
  EXPECT_THROW(db->OpenQuery("SELECT nonsense FROM", q), EDBError);
  EXPECT_NE(db->GetLastError(), raised);
  EXPECT_EQ(logModule->Lines().back(), db->GetLastError());
}

TEST_F(DBManagerTest, ExecuteRowsCountsAndTransactionsCommitOrRollBack) {
  auto db = Connect();
  long long rows = -1;
  EXPECT_TRUE(db->ExecuteRowsFmt("UPDATE INVOICES SET Status = %d WHERE InvoiceNum > %d", {2, 1002}, rows));
  EXPECT_EQ(rows, 3);
  EXPECT_TRUE(db->ExecuteRows("UPDATE INVOICES SET Status = 2 WHERE InvoiceNum = -1", rows));
  EXPECT_EQ(rows, 0);

  EXPECT_TRUE(db->BeginTransaction());
  db->Execute("DELETE FROM LINEITEM");
  EXPECT_TRUE(db->RollbackTransaction());
  EXPECT_GT(db->QueryInteger("SELECT COUNT(1) AS N FROM LINEITEM", "N"), 0);

  EXPECT_TRUE(db->BeginTransaction());
  db->Execute("DELETE FROM LINEITEM");
  EXPECT_TRUE(db->CommitTransaction());
  EXPECT_EQ(db->QueryInteger("SELECT COUNT(1) AS N FROM LINEITEM", "N"), 0);
}

TEST_F(DBManagerTest, QueriesWalkTheirRowsWithTypedFields) {
  auto db = Connect();
  TDBQuery q;
  db->OpenQueryFmt("SELECT InvoiceNum, Date, AfterDisc, InvoiceSource, IsPaidOnline FROM INVOICES "
                   "WHERE InvoiceNum BETWEEN %d AND %d ORDER BY InvoiceNum",
                   {1001, 1003}, q);
  ASSERT_EQ(q->FieldCount(), 5);
  EXPECT_EQ(q->FieldName(0), "InvoiceNum");
  int seen = 0;
  for (; !q->Eof(); q->Next()) {
    EXPECT_EQ(q->AsInteger("invoicenum"), 1001 + seen);
    EXPECT_GT(q->AsDateTime("Date"), 40000.0);
    EXPECT_GT(q->AsFloat("AfterDisc"), 0.0);
    EXPECT_EQ(q->AsString("InvoiceSource"), "POS");
    EXPECT_EQ(q->AsString("IsPaidOnline"), "False");
    EXPECT_FALSE(q->IsNull("Date"));
    ++seen;
  }
  EXPECT_EQ(seen, 3);
  db->FreeQuery(q);
  EXPECT_EQ(q, nullptr);
}

TEST_F(DBManagerTest, ConnectNeedsARegistryReader) {
  container->RemoveFactory(IPlinthRegistry::IID);
  IDBManagerPtr db;
  ASSERT_TRUE(PlinthDI().CreateNamedInstance("plinth", db));
  try {
    db->Connect();
    FAIL() << "connected without a registry";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Plinth Registry not found (implDBManagerPlinth, line 85)");
  }
  EXPECT_FALSE(db->IsConnected());
}

TEST_F(DBManagerTest, EmptyOrWrongConnectionStringsFailTheOpen) {
  fs::remove(regPath);
  IDBManagerPtr db;
  ASSERT_TRUE(PlinthDI().CreateNamedInstance("plinth", db));
  EXPECT_THROW(db->Connect(), EDBError);
  EXPECT_FALSE(db->IsConnected());

  WriteFile(regPath, "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane\\Plinth]\r\n"
                     "\"MSDE-ConnectionString\"=\"Driver=SQLite3;Database=" +
                         dir.File("absent.db") + ";NoCreat=1\"\r\n");
  EXPECT_THROW(db->Connect(), EDBError);
  EXPECT_FALSE(fs::exists(dir.File("absent.db")));
  // The string is kept: once the database exists, Open reaches it.
  fs::copy_file(dbPath, dir.File("absent.db"));
  db->Open();
  EXPECT_TRUE(db->IsConnected());
  EXPECT_EQ(db->QueryInteger("SELECT COUNT(1) AS N FROM EMPLOYEE", "N"), 5);
}

TEST_F(DBManagerTest, AMissingCompatibilityExtensionIsAClearError) {
  setenv("COURIO_TSQL_EXTENSION", dir.File("no-such-extension.so").c_str(), 1);
  IDBManagerPtr db;
  ASSERT_TRUE(PlinthDI().CreateNamedInstance("plinth", db));
  try {
    db->Connect();
    ADD_FAILURE() << "connected without the extension";
  } catch (const EDBError& e) {
    EXPECT_NE(std::string(e.what()).find("T-SQL compatibility extension is not loaded"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("no-such-extension.so"), std::string::npos);
  }
  unsetenv("COURIO_TSQL_EXTENSION");
  EXPECT_FALSE(db->IsConnected());
  db->Open();
  EXPECT_TRUE(db->IsConnected());
}

// The POS file replaced under a live connection: the old connection would
// keep reading the old file; the manager reopens before the next statement.
TEST_F(DBManagerTest, ReopensWhenTheDatabaseFileWasReplacedOrRemoved) {
  auto db = Connect();
  ASSERT_EQ(db->QueryInteger("SELECT COUNT(1) AS N FROM EMPLOYEE", "N"), 5);

  std::string copy = dir.File("copy.db");
  fs::copy_file(dbPath, copy);
  possim::ExecSql(copy, "INSERT INTO EMPLOYEE (EMPNUM, FirstName) VALUES ('0099', 'New')");
  fs::rename(copy, dbPath);  // a new file (inode) at the same path
  EXPECT_EQ(db->QueryInteger("SELECT COUNT(1) AS N FROM EMPLOYEE", "N"), 6);

  // Gone: the statement fails (and says so); back: the next one works.
  fs::rename(dbPath, dir.File("away.db"));
  EXPECT_FALSE(db->IsConnected());
  EXPECT_THROW(db->QueryInteger("SELECT COUNT(1) AS N FROM EMPLOYEE", "N"), EDBError);
  EXPECT_FALSE(db->GetLastError().empty());
  EXPECT_EQ(logModule->Lines().back(), db->GetLastError());
  fs::rename(dir.File("away.db"), dbPath);
  EXPECT_EQ(db->QueryInteger("SELECT COUNT(1) AS N FROM EMPLOYEE", "N"), 6);
  EXPECT_TRUE(db->IsConnected());
}

// A listening socket that accepts and never answers: the login must give up.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 4) != 0)
      throw std::runtime_error("cannot listen");
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~SilentServer() { close(fd_); }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(DBManagerTest, UnreachableSqlServersFailWithinTheLoginTimeout) {
  SilentServer silent;
  const int closedPort = FreePort();
  for (int port : {closedPort, silent.Port()}) {
    SCOPED_TRACE(port);
    auto db = std::make_shared<TDBManagerPlinth>();
    db->SetConnectionString("Provider=SQLOLEDB.1;Data Source=127.0.0.1," + std::to_string(port) +
                            ";Initial Catalog=Plinth;User ID=sa;Password=TopSecret9");
    auto start = std::chrono::steady_clock::now();
    std::string message;
    try {
      db->Open();
    } catch (const EDBError& e) {
      message = e.what();
      EXPECT_TRUE(e.ConnectionLost()) << e.SqlState();
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(message.find("TopSecret9"), std::string::npos);
    EXPECT_LT(seconds, TDBManagerODBC::kLoginTimeoutSeconds + 10.0);
    EXPECT_FALSE(db->IsConnected());
    // A statement tries to open it again and fails the same way, logged.
    EXPECT_THROW(db->Execute("SELECT 1"), EDBError);
    EXPECT_FALSE(db->GetLastError().empty());
  }
}

}  // namespace
}  // namespace courio::test
