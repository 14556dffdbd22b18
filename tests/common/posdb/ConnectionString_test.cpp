#include <gtest/gtest.h>

#include <string>

#include "common/posdb/ConnectionString.hpp"
#include "common/posdb/SqliteRewrite.hpp"

namespace courio::test {
namespace {

struct TranslationCase {
  const char* oledb;
  const char* odbc;
};

TEST(ConnectionStringTranslation, OleDbStringsBecomeFreeTdsStrings) {
  const TranslationCase cases[] = {
      {"Provider=SQLOLEDB.1;Password=s3cret;Persist Security Info=True;User ID=sa;Initial Catalog=Plinth;"
       "Data Source=POSPC\\SQLEXPRESS",
       "Driver=FreeTDS;Server=POSPC\\SQLEXPRESS;Database=Plinth;UID=sa;PWD=s3cret;TDS_Version=7.4;"
       "ClientCharset=UTF-8"},
      {"Provider=SQLNCLI11;Data Source=10.0.0.5,1433;Initial Catalog=Plinth;User ID=plinth;Password=x",
       "Driver=FreeTDS;Server=10.0.0.5,1433;Database=Plinth;UID=plinth;PWD=x;TDS_Version=7.4;ClientCharset=UTF-8"},
      // Key case, blanks around keys and values, quoted values holding ';'.
      {" provider = SQLOLEDB ; data source = (local)\\PLINTH ; initial catalog = Plinth ; user id = sa ; "
       "password = \"a;b\"\"c\" ",
       "Driver=FreeTDS;Server=127.0.0.1\\PLINTH;Database=Plinth;UID=sa;PWD={a;b\"c};TDS_Version=7.4;"
       "ClientCharset=UTF-8"},
      {"Provider=SQLOLEDB;Data Source=.;Initial Catalog=P;User ID=DOMAIN\\clerk;Password='it''s'",
       "Driver=FreeTDS;Server=127.0.0.1;Database=P;UID=DOMAIN\\clerk;PWD=it's;TDS_Version=7.4;ClientCharset=UTF-8"},
      {"Provider=SQLOLEDB;Data Source=tcp:pos.local,1500;Application Name=Plinth;Workstation ID=TILL1",
       "Driver=FreeTDS;Server=pos.local,1500;APP=Plinth;WSID=TILL1;TDS_Version=7.4;ClientCharset=UTF-8"},
      {"Integrated Security=False;Data Source=pos;User ID=u;Password=p",
       "Driver=FreeTDS;Server=pos;UID=u;PWD=p;TDS_Version=7.4;ClientCharset=UTF-8"},
      // ODBC strings are used as they stand.
      {"Driver=SQLite3;Database=/var/lib/pos.db", "Driver=SQLite3;Database=/var/lib/pos.db"},
      {"DSN=plinth;UID=sa;PWD=x", "DSN=plinth;UID=sa;PWD=x"},
      {"driver={ODBC Driver 18 for SQL Server};Server=pos;Encrypt=no",
       "driver={ODBC Driver 18 for SQL Server};Server=pos;Encrypt=no"},
  };
  for (const auto& c : cases) EXPECT_EQ(TranslateConnectionString(c.oledb), c.odbc) << c.oledb;
}

TEST(ConnectionStringTranslation, WindowsAuthenticationIsReportedAsUnsupported) {
  for (const char* text : {"Provider=SQLOLEDB;Integrated Security=SSPI;Data Source=pos;Initial Catalog=P",
                           "Provider=SQLNCLI;Trusted_Connection=yes;Data Source=pos",
                           "Provider=SQLOLEDB;Integrated Security=true;Data Source=pos"}) {
    try {
      TranslateConnectionString(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const EConnectionString& e) {
      EXPECT_NE(std::string(e.what()).find("not supported"), std::string::npos);
      EXPECT_NE(std::string(e.what()).find("SQL Server login"), std::string::npos);
    }
  }
}

TEST(ConnectionStringTranslation, PasswordsAreMasked) {
  const TranslationCase cases[] = {
      {"Provider=SQLOLEDB;Password=s3cret;User ID=sa", "Provider=SQLOLEDB;Password=***;User ID=sa"},
      {"Driver=FreeTDS;PWD={a;b};UID=sa", "Driver=FreeTDS;PWD=***;UID=sa"},
      {"pwd=x;password=y", "pwd=***;password=***"},
  };
  for (const auto& c : cases) {
    std::string masked = MaskConnectionString(c.oledb);
    EXPECT_EQ(masked, c.odbc);
    EXPECT_EQ(masked.find("s3cret"), std::string::npos);
  }
}

TEST(ConnectionStringTranslation, TheSqliteDriverGetsTheExtensionOnce) {
  EXPECT_EQ(WithSqliteExtension("Driver=SQLite3;Database=/p.db;", "/b/libcourio_tsql.so"),
            "Driver=SQLite3;Database=/p.db;LoadExt=/b/libcourio_tsql.so");
  EXPECT_EQ(WithSqliteExtension("Driver={SQLite3 ODBC Driver};Database=/p.db;LoadExt=/x.so", "/b/l.so"),
            "Driver={SQLite3 ODBC Driver};Database=/p.db;LoadExt=/x.so");
  EXPECT_EQ(WithSqliteExtension("Driver=FreeTDS;Server=pos", "/b/l.so"), "Driver=FreeTDS;Server=pos");
  EXPECT_TRUE(NamesSqliteDriver("Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=x"));
  EXPECT_FALSE(NamesSqliteDriver("DSN=sqlite3;Database=x"));
}

struct RewriteCase {
  const char* tsql;
  const char* sqlite;
};

TEST(SqliteRewrite, TsqlFormsBecomeSqliteForms) {
  const RewriteCase cases[] = {
      {"SELECT TOP 1 * FROM [Attend] WHERE [InDateTime] > '20240502 06:00:00' AND [InDateTime] < "
       "'20240503 06:00:00' AND [EmpNum] = '0042' ORDER BY [InDateTime] DESC",
       "SELECT * FROM [Attend] WHERE [InDateTime] > '2024-05-02 06:00:00' AND [InDateTime] < "
       "'2024-05-03 06:00:00' AND [EmpNum] = '0042' ORDER BY [InDateTime] DESC LIMIT 1"},
      {"SELECT ISNULL( MAX( InvoiceNum ), -1 ) AS LastInvoiceNum FROM INVOICES",
       "SELECT IFNULL( MAX( InvoiceNum ), -1 ) AS LastInvoiceNum FROM INVOICES"},
      {"UPDATE INVOICES SET DriverLink = MAX_ATTEND.DriverLink FROM ( SELECT MAX( ATTEND.InvoiceLink ) AS DriverLink "
       "FROM ATTEND WHERE EMPNUM = '42' AND InDateTime > CAST( '2024-01-31' AS DATETIME ) AND ISNULL( OutDateTime, "
       "DATEADD( MINUTE, 10, GETDATE() ) ) >= '2024-01-31 14:07:09' ) MAX_ATTEND WHERE INVOICENUM = 1045",
       "UPDATE INVOICES SET DriverLink = MAX_ATTEND.DriverLink FROM ( SELECT MAX( ATTEND.InvoiceLink ) AS DriverLink "
       "FROM ATTEND WHERE EMPNUM = '42' AND InDateTime > TSQL_DATETIME( '2024-01-31' ) AND IFNULL( OutDateTime, "
       "DATEADD( 'MINUTE', 10, GETDATE() ) ) >= '2024-01-31 14:07:09' ) MAX_ATTEND WHERE INVOICENUM = 1045"},
      // TOP inside a subquery ends that subquery; TOP ( n ) and DISTINCT.
      {"SELECT a FROM t WHERE id IN (SELECT TOP 3 id FROM u ORDER BY id) AND b = 1",
       "SELECT a FROM t WHERE id IN (SELECT id FROM u ORDER BY id LIMIT 3) AND b = 1"},
      {"SELECT DISTINCT TOP (2) x FROM t;", "SELECT DISTINCT x FROM t LIMIT 2;"},
      {"SELECT TOP 1 x FROM t WHERE d > '20240101 00:00' -- trailing comment",
       "SELECT x FROM t WHERE d > '2024-01-01 00:00:00' LIMIT 1 -- trailing comment"},
      // Nested CAST with a function inside, DATETIME2 with precision, N'' literals.
      {"SELECT CAST( ISNULL( a, '20240131 10:00:00.5' ) AS DATETIME2(3) ), N'Caf\xC3\xA9'",
       "SELECT TSQL_DATETIME( IFNULL( a, '2024-01-31 10:00:00.5' ) ), 'Caf\xC3\xA9'"},
      // CAST to INT gets the server's strict conversion; a binary collation becomes SQLite's.
      {"SELECT CAST( SUBSTRING( Data, PATINDEX( '%TRANSTYPE=%', Data ) + 11, 1 ) AS INT ) FROM InvoicesAudit",
       "SELECT TSQL_INT( SUBSTRING( Data, PATINDEX( '%TRANSTYPE=%', Data ) + 11, 1 ) ) FROM InvoicesAudit"},
      {"SELECT PATINDEX( '[0-9]', x COLLATE Latin1_General_BIN2 ), y COLLATE sql_latin1_general_cp1_bin FROM t",
       "SELECT PATINDEX( '[0-9]', x COLLATE BINARY ), y COLLATE BINARY FROM t"},
      // Left alone: other CASTs and collations, literals of other shapes, names inside strings and brackets.
      {"SELECT CAST( a AS INTEGER ), CAST( b AS VARCHAR(10) ), c COLLATE NOCASE, d COLLATE Latin1_General_CI_AS FROM t",
       "SELECT CAST( a AS INTEGER ), CAST( b AS VARCHAR(10) ), c COLLATE NOCASE, d COLLATE Latin1_General_CI_AS FROM t"},
      {"SELECT 'TOP 1 ISNULL(x)', [ISNULL], '20241301 10:00:00', '20240131', 'it''s' FROM t",
       "SELECT 'TOP 1 ISNULL(x)', [ISNULL], '20241301 10:00:00', '20240131', 'it''s' FROM t"},
      {"UPDATE attend SET OnDelivery = 0 WHERE InvoiceLink = 7", "UPDATE attend SET OnDelivery = 0 WHERE InvoiceLink = 7"},
  };
  for (const auto& c : cases) EXPECT_EQ(RewriteForSqlite(c.tsql), c.sqlite) << c.tsql;
}

}  // namespace
}  // namespace courio::test
