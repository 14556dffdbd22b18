// The T-SQL functions the embedded POS supplies, called through the manager
// (so through the rewrite and the SQLite3 ODBC driver), with the values the
// POS server gives.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "PosTestSupport.hpp"
#include "common/util/DateTime.hpp"
#include "common/util/Json.hpp"
#include "common/util/StrUtils.hpp"

namespace courio::test {
namespace {

using TsqlCompatTest = PosFixture;

TEST_F(TsqlCompatTest, FunctionsGiveTheServersValues) {
  auto db = Connect();
  struct Case {
    const char* expression;
    const char* value;
  };
  const Case cases[] = {
      {"PATINDEX( '%TRANSTYPE=%', 'InvoiceNum=''7'' TransType=''2''' )", "16"},
      {"PATINDEX( '%o/r%', 'Invoice 1045 O/R' )", "14"},
      {"PATINDEX( 'Inv%', 'Invoice' )", "1"},
      {"PATINDEX( 'nv%', 'Invoice' )", "0"},
      {"PATINDEX( '%[0-9]%', 'abc7d' )", "4"},
      {"PATINDEX( '%[^a-c]%', 'abcxd' )", "4"},
      {"PATINDEX( '%a_c%', 'zzabc' )", "3"},
      {"PATINDEX( '%\xC3\xA9t%', 'caf\xC3\xA9t\xC3\xA9' )", "4"},
      {"PATINDEX( '%x%', NULL )", ""},
      {"CHARINDEX( 'O/R', 'Invoice 12 o/r' )", "12"},
      {"CHARINDEX( 'a', 'banana', 3 )", "4"},
      {"LEN( 'abc  ' )", "3"},
      {"DATEADD( MINUTE, 10, '2024-05-02 23:55:00' )", "2024-05-03 00:05:00"},
      {"DATEADD( mi, -90, '20240502 01:00:00' )", "2024-05-01 23:30:00"},
      {"DATEADD( DAY, 1, '2024-02-28' )", "2024-02-29 00:00:00"},
      {"DATEADD( MONTH, 1, '2024-01-31 10:00:00' )", "2024-02-29 10:00:00"},
      {"DATEADD( YEAR, 1, '2024-02-29' )", "2025-02-28 00:00:00"},
      {"DATEADD( SECOND, 1, '2024-05-02 18:12:00.400' )", "2024-05-02 18:12:01.400"},
      {"DATEDIFF( DAY, '2024-05-02 23:59:59', '2024-05-03 00:00:00' )", "1"},
      {"DATEDIFF( MINUTE, '2024-05-02 10:00:59', '2024-05-02 10:10:00' )", "10"},
      {"CAST( '2024-01-31' AS DATETIME )", "2024-01-31 00:00:00"},
      {"CAST( '20240131 14:05' AS DATETIME )", "2024-01-31 14:05:00"},
      {"ISNULL( NULL, 'x' )", "x"},
      {"CAST( SUBSTRING( 'Invoice 1045 O/R', 9, PATINDEX( '%O/R%', 'Invoice 1045 O/R' ) - 10 ) AS INT )", "1045"},
      // SUBSTRING counts characters from 1; positions before 1 take up length.
      {"SUBSTRING( 'abcdef', 2, 3 )", "bcd"},
      {"SUBSTRING( 'abcdef', 0, 2 )", "a"},
      {"SUBSTRING( 'abcdef', -3, 3 )", ""},
      {"SUBSTRING( 'abcdef', 5, 99 )", "ef"},
      {"SUBSTRING( 'abcdef', 9, 2 )", ""},
      {"SUBSTRING( 'abc', 2, 0 )", ""},
      {"SUBSTRING( 'caf\xC3\xA9s', 4, 2 )", "\xC3\xA9s"},
      {"SUBSTRING( 'abc', NULL, 1 )", ""},
      // CAST to INT: blanks around a sign and digits; empty text and a sign alone are 0.
      {"CAST( ' 12 ' AS INT )", "12"},
      {"CAST( '-0042' AS INT )", "-42"},
      {"CAST( '+7' AS INT )", "7"},
      {"CAST( '' AS INT )", "0"},
      {"CAST( '-' AS INT )", "0"},
      {"CAST( '2147483647' AS INT )", "2147483647"},
      {"CAST( '-2147483648' AS INT )", "-2147483648"},
      {"CAST( 12.9 AS INT )", "12"},
      {"CAST( -12.9 AS INT )", "-12"},
      {"CAST( NULL AS INT )", ""},
      // A binary collation: [0-9] is the ten ASCII digits.
      {"PATINDEX( '%[^0-9]%', '12a' COLLATE Latin1_General_BIN2 )", "3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db->QueryString(std::string("SELECT ") + c.expression + " AS R", "R"), c.value) << c.expression;
  }
  // GETDATE is the database's local time in the stored form.
  std::string now = db->QueryString("SELECT GETDATE() AS R", "R");
  EXPECT_TRUE(std::regex_match(now, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(\.\d{3})?)"))) << now;
  TDateTime parsed = IsoToDateTime(now);
  EXPECT_LT(SecondsBetween(parsed, SystemNow()), 5);
  // Bad input is an error, not a wrong answer.
  EXPECT_THROW(db->QueryString("SELECT DATEADD( FORTNIGHT, 1, '2024-01-01' ) AS R", "R"), EDBError);
  EXPECT_THROW(db->QueryString("SELECT CAST( 'not a date' AS DATETIME ) AS R", "R"), EDBError);
  // Where the server refuses a value, so does the embedded POS, with the server's message.
  struct Refused {
    const char* expression;
    const char* message;
  };
  const Refused refused[] = {
      {"SUBSTRING( 'Invoice O/R', 9, -1 )", "Invalid length parameter passed to the LEFT or SUBSTRING function."},
      {"CAST( '12x' AS INT )", "Conversion failed when converting the varchar value '12x' to data type int."},
      {"CAST( '1 2' AS INT )", "Conversion failed when converting the varchar value '1 2' to data type int."},
      {"CAST( '1.5' AS INT )", "Conversion failed when converting the varchar value '1.5' to data type int."},
      {"CAST( '\xC2\xB2' AS INT )", "Conversion failed when converting the varchar value"},
      {"CAST( '2147483648' AS INT )", "The conversion of the varchar value '2147483648' overflowed an int column."},
      {"CAST( 3000000000 AS INT )", "Arithmetic overflow error converting expression to data type int."},
  };
  for (const Refused& r : refused) {
    try {
      db->QueryString(std::string("SELECT ") + r.expression + " AS R", "R");
      ADD_FAILURE() << r.expression << " did not fail";
    } catch (const EDBError& e) {
      EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << r.expression << ": " << e.what();
    }
  }
}

// The shop commands of pos-sim, through the binary as the demo uses them.
TEST_F(TsqlCompatTest, PosSimRingsUpInvoicesAndClocksDriversIn) {
  const std::string sim = BuildDir() + "/pos-sim";
  auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {sim};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess p(argv);
    EXPECT_EQ(p.Wait(std::chrono::seconds(20)), 0) << p.Output();
    std::string out = p.Output();
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  };
  auto db = Connect();
  const TDateTime before = TruncToSecond(SystemNow());

  int delivery = std::stoi(run({"ring", dbPath}));
  int collection = std::stoi(run({"ring", dbPath, "--collection", "--no-items"}));
  EXPECT_EQ(delivery, 1006);  // after the five invoices of the new shop
  EXPECT_EQ(collection, delivery + 1);

  TDBQuery q;
  db->OpenQueryFmt("SELECT TransType, Date, TimeDue, CustLink FROM INVOICES WHERE InvoiceNum = %d", {delivery}, q);
  ASSERT_FALSE(q->Eof());
  EXPECT_EQ(q->AsInteger("TransType"), 3);
  EXPECT_GE(q->AsDateTime("Date"), before);
  EXPECT_EQ(SecondsBetween(q->AsDateTime("TimeDue"), q->AsDateTime("Date")), 30 * 60);
  EXPECT_FALSE(q->IsNull("CustLink"));
  db->FreeQuery(q);
  EXPECT_EQ(db->QueryInteger(FormatFmt("SELECT TransType FROM INVOICES WHERE InvoiceNum = %d", {collection}),
                             "TransType"),
            2);

  auto items = [&](int invoice) {
    return db->QueryInteger(FormatFmt("SELECT COUNT(1) AS N FROM LINEITEM WHERE InvoiceNum = %d", {invoice}), "N");
  };
  EXPECT_EQ(items(delivery), static_cast<int>(possim::ItemsFor(delivery).size()));
  EXPECT_EQ(items(collection), 0);
  run({"items", dbPath, std::to_string(collection)});
  EXPECT_EQ(items(collection), static_cast<int>(possim::ItemsFor(collection).size()));

  TJson shown = ParseJson(run({"show", dbPath, std::to_string(delivery)}));
  EXPECT_EQ(shown["InvoiceNum"], delivery);
  EXPECT_EQ(shown["TransType"], 3);

  int link = std::stoi(run({"clockin", dbPath, "0043"}));
  EXPECT_EQ(db->QueryString(FormatFmt("SELECT EmpNum FROM ATTEND WHERE InvoiceLink = %d", {link}), "EmpNum"), "0043");
  run({"ondelivery", dbPath, "0043", "1"});
  run({"assign", dbPath, std::to_string(delivery), "0043"});
  EXPECT_EQ(db->QueryInteger(FormatFmt("SELECT DriverLink FROM INVOICES WHERE InvoiceNum = %d", {delivery}),
                             "DriverLink"),
            link);
  run({"transtype", dbPath, std::to_string(collection), "3"});
  EXPECT_EQ(db->QueryInteger("SELECT COUNT(1) AS N FROM InvoicesAudit JOIN INVOICES ON INVOICES.INVOICENUM = "
                             "InvoicesAudit.InvoiceNum WHERE INVOICES.TRANSTYPE = 3 AND CAST( SUBSTRING( Data, "
                             "PATINDEX( '%TRANSTYPE=%', Data ) + 11, 1 ) AS INT ) = 2",
                             "N"),
            1);
  int activity = std::stoi(run({"overring", dbPath, std::to_string(delivery)}));
  EXPECT_EQ(db->QueryString(FormatFmt("SELECT ACTIVITY FROM ACTIVITY WHERE ActivityID = %d", {activity}), "ACTIVITY"),
            "Invoice " + std::to_string(delivery) + " O/R");

  // Bursts: several changes or overrings in one call share one second.
  const std::string d = std::to_string(delivery), c = std::to_string(collection);
  run({"transtype", dbPath, d, "2", c, "2"});
  EXPECT_EQ(db->QueryInteger(FormatFmt("SELECT COUNT(1) AS N FROM INVOICES WHERE TransType = 2 AND InvoiceNum IN (%d, %d)",
                                       {delivery, collection}),
                             "N"),
            2);
  EXPECT_EQ(db->QueryInteger("SELECT COUNT( DISTINCT TimeStamp ) AS N FROM InvoicesAudit WHERE AuditID > ( SELECT "
                             "MAX( AuditID ) - 2 FROM InvoicesAudit )",
                             "N"),
            1);
  std::vector<std::string> ids = SplitLines(run({"overring", dbPath, d, d, c}));
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(std::stoi(ids[0]), activity + 1);
  EXPECT_EQ(std::stoi(ids[2]), activity + 3);
  EXPECT_EQ(db->QueryInteger(FormatFmt("SELECT COUNT( DISTINCT DATE ) AS N FROM ACTIVITY WHERE ActivityID > %d",
                                       {activity}),
                             "N"),
            1);
  ChildProcess odd({sim, "transtype", dbPath, d, "2", c});
  EXPECT_NE(odd.Wait(std::chrono::seconds(20)), 0) << "an invoice without its type";

  // The registry file it prints reaches the same database.
  WriteFile(regPath, run({"regfile", dbPath}));
  auto again = Connect();
  EXPECT_EQ(again->QueryInteger("SELECT MAX( InvoiceNum ) AS N FROM INVOICES", "N"), collection);
  // init refuses to overwrite without --force.
  ChildProcess refused({sim, "init", dbPath});
  EXPECT_NE(refused.Wait(std::chrono::seconds(20)), 0);
}

}  // namespace
}  // namespace courio::test
