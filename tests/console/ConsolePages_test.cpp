// The settings and database-query pages on a running console: their page
// data (through test templates that print it), what they store, their
// messages, failing statements, and escaping in the project's own templates.
#include <gtest/gtest.h>

#include <future>

#include "common/log/LogFacility.hpp"
#include "console/ConsoleTestSupport.hpp"
#include "support/TestSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;
using test::TRunningConsole;

const std::string kAllNames =
    "Settings:WebService Account Store NewInvoice RemoteChanges DriverAssigned RemoteDriverChanges DriverEvents "
    "CollectToDelivery DeliveryToCollect InvoiceOverring Uploader \n";

// As the templates' double-brace tags escape.
std::string HtmlEscapeForTest(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Form(const std::string& query, const std::string& action) {
  std::string encoded;
  for (unsigned char c : query) {
    if (std::isalnum(c)) encoded += static_cast<char>(c);
    else if (c == ' ') encoded += '+';
    else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    }
  }
  return "query=" + encoded + "&action=" + action;
}

TEST(SettingsPageTest, ListsTheTwelveRowsAloneAndTheSelectedRowWithItsValuesAndForm) {
  TRunningConsole console;
  test::AddSettingsRow(console.Store(), "Other", {{"x", 1}});
  test::AddSettingsRow(console.Store(), "Store", {{"id", 7}});
  EXPECT_EQ(console.Get("/admin/settings").body, "[" + kAllNames + "]");
  auto page = console.Get("/admin/settings/Store");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, "[" + kAllNames +
                           "Setting:Store\n"
                           "Row:2|Store|{&quot;id&quot;:7}\n"
                           "Values:id=7\n"
                           "FormData:id=7\n]");
  // The row's name is the path segment as written; the column compares
  // without regard to case.
  EXPECT_NE(console.Get("/admin/settings/store").body.find("Setting:store\nRow:2|Store|"), std::string::npos);
  // A POST with only two segments selects no row and writes nothing.
  auto list = console.Post("/admin/settings", "id=99");
  EXPECT_EQ(list.body, "[" + kAllNames + "]");
  EXPECT_EQ(console.StoredValue("Store"), "{\"id\":7}");
}

TEST(SettingsPageTest, APostedFormReplacesTheValueWithTextMembersAndTheSameAnswerShowsIt) {
  TRunningConsole console;
  test::AddSettingsRow(console.Store(), "Store", {{"id", 7}, {"name", "Main St"}});
  struct Case {
    std::string body;
    std::string stored;
    std::string shown;  // the page's lines after "Setting:Store\n"
  };
  const Case cases[] = {
      {"id=12", R"({"id":"12"})",
       "NewValue:id=12;note=;empty=()\nRow:1|Store|{&quot;id&quot;:&quot;12&quot;}\nValues:id=12\nFormData:id=12\n"},
      {"id=12&note=it%27s+Joe%27s", R"({"id":"12","note":"it's Joe's"})",
       "NewValue:id=12;note=it&apos;s Joe&apos;s;empty=()\n"
       "Row:1|Store|{&quot;id&quot;:&quot;12&quot;,&quot;note&quot;:&quot;it&apos;s Joe&apos;s&quot;}\n"
       "Values:id=12\nFormData:id=12\nFormData:note=it&apos;s Joe&apos;s\n"},
      {"id=3&empty=", R"({"id":"3","empty":""})",
       "NewValue:id=3;note=;empty=()\n"
       "Row:1|Store|{&quot;id&quot;:&quot;3&quot;,&quot;empty&quot;:&quot;&quot;}\n"
       "Values:id=3\nFormData:id=3\nFormData:empty=\n"},
      {"id=1&id=2", R"({"id":"1"})",
       "NewValue:id=1;note=;empty=()\nRow:1|Store|{&quot;id&quot;:&quot;1&quot;}\nValues:id=1\nFormData:id=1\n"},
  };
  for (const auto& c : cases) {
    auto page = console.Post("/admin/settings/Store", c.body);
    EXPECT_EQ(page.status, 200) << c.body;
    EXPECT_EQ(console.StoredValue("Store"), c.stored) << c.body;
    EXPECT_EQ(page.body, "[" + kAllNames + "Setting:Store\n" + c.shown + "]") << c.body;
  }
}

TEST(SettingsPageTest, AMissingRowOrAValueThatIsNotAnObjectIsAnErrorPageAndTheNextRequestWorks) {
  TRunningConsole console;
  test::AddSettingsRow(console.Store(), "Store", {{"id", 7}});
  test::AddSettingsRow(console.Store(), "Account", TJson::array());
  console.Store().GetDatabase().Execute("INSERT INTO Settings(Name, Value) VALUES('WebService', '[1,2]')");
  console.Store().GetDatabase().Execute("INSERT INTO Settings(Name, Value) VALUES('Uploader', 'not json')");
  for (const std::string name : {"NewInvoice", "WebService", "Uploader"}) {
    auto page = console.Get("/admin/settings/" + name);
    EXPECT_EQ(page.status, 400) << name;
    EXPECT_NE(page.body.find(name), std::string::npos) << page.body;
  }
  EXPECT_EQ(console.Post("/admin/settings/NewInvoice", "LastInvoice=5").status, 400);
  EXPECT_EQ(console.StoredValue("NewInvoice"), "") << "no row is made";
  // An empty array is an empty form.
  auto empty = console.Get("/admin/settings/Account");
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.body.find("FormData:"), std::string::npos);
  EXPECT_EQ(console.Get("/admin/settings/Store").status, 200);
}

class QueryPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    console_.Store().GetDatabase().Execute(
        "CREATE TABLE t(ID INTEGER, Name TEXT, Amount REAL, Note TEXT);"
        "INSERT INTO t VALUES (1, 'one', 2.5, NULL), (2, '<b>two</b>', -3, 'x&y'), (3, 'three', 0, '');");
  }
  std::string Content(const test::THttpAnswer& answer) {
    EXPECT_EQ(answer.status, 200) << answer.body;
    return answer.body.size() >= 2 ? answer.body.substr(1, answer.body.size() - 2) : answer.body;
  }
  long long Count(const std::string& table) {
    TJson rows = ParseJson(console_.Store().GetDatabase().ExecuteJSON("SELECT count(*) AS n FROM " + table));
    return JsonAsInt(rows[0]["n"]);
  }
  test::LogCapture log_;
  TRunningConsole console_;
};

TEST_F(QueryPageTest, WithoutAPostItShowsTheDefaultQueryAndRunsNothing) {
  EXPECT_EQ(Content(console_.Get("/admin/database")), "Query:SELECT * FROM | WHERE 1=1\n");
  EXPECT_EQ(Content(console_.Get("/admin/database?query=DELETE+FROM+t&action=exec")),
            "Query:SELECT * FROM | WHERE 1=1\n");
  EXPECT_EQ(Content(console_.Post("/admin/database", "query=DELETE+FROM+t")), "Query:DELETE FROM t\n")
      << "no action, nothing run";
  EXPECT_EQ(Count("t"), 3);
}

TEST_F(QueryPageTest, ResultShowsTheRowsAsAnEscapedTableAndNoResultWhenThereAreNone) {
  const std::string table =
      "<table class=\"table\" style=\"border:1px solid gray;border-collapse: separate;border-spacing: 2px;"
      "border-color: gray;\"><thead><tr><th>ID</th><th>Name</th><th>Amount</th><th>Note</th></tr></thead><tbody>"
      "<tr><td>1</td><td>one</td><td>2.5</td><td></td></tr>"
      "<tr><td>2</td><td>&lt;b&gt;two&lt;/b&gt;</td><td>-3</td><td>x&amp;y</td></tr>"
      "<tr><td>3</td><td>three</td><td>0</td><td></td></tr></tbody></table>";
  const std::string noResult = "<div class=\"msg\"><strong>No Result</strong> The query returned no rows</div>";
  struct Case {
    std::string query, action, content;
  };
  const Case cases[] = {
      {"SELECT * FROM t ORDER BY ID", "result",
       "Query:SELECT * FROM t ORDER BY ID\nRow:1\nRow:2\nRow:3\nResultData:" + table},
      {"SELECT * FROM t ORDER BY ID", "Result",
       "Query:SELECT * FROM t ORDER BY ID\nRow:1\nRow:2\nRow:3\nResultData:" + table},
      // No row: "Rows" is the empty object the store gives (its section shows once).
      {"SELECT * FROM t WHERE 1=0", "result", "Query:SELECT * FROM t WHERE 1=0\nRow:\nResultData:" + noResult},
      {"SELECT '<script>alert(1)</script>' AS \"<i>\"", "RESULT",
       "Query:SELECT &apos;&lt;script&gt;alert(1)&lt;/script&gt;&apos; AS &quot;&lt;i&gt;&quot;\nRow:\n"
       "ResultData:<table class=\"table\" style=\"border:1px solid gray;border-collapse: separate;"
       "border-spacing: 2px;border-color: gray;\"><thead><tr><th>&lt;i&gt;</th></tr></thead><tbody>"
       "<tr><td>&lt;script&gt;alert(1)&lt;/script&gt;</td></tr></tbody></table>"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Content(console_.Post("/admin/database", Form(c.query, c.action))), c.content) << c.query;
}

TEST_F(QueryPageTest, ExecShowsHowManyRowsTheStatementChangedInAnyLetterCase) {
  struct Case {
    std::string query, action;
    int changed;
    long long rowsLeft;
  };
  const Case cases[] = {
      {"UPDATE t SET Note = 'n' WHERE ID < 3", "exec", 2, 3},
      {"SELECT * FROM t", "exec", 0, 3},  // reading changes nothing, whatever ran before
      {"INSERT INTO t(ID) VALUES (4); INSERT INTO t(ID) VALUES (5)", "Exec", 2, 5},
      {"DELETE FROM t WHERE ID > 2", "EXEC", 3, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Content(console_.Post("/admin/database", Form(c.query, c.action))),
              "Query:" + HtmlEscapeForTest(c.query) + "\nResultData:<div class=\"msg\"><strong>Query Executed</strong> " +
                  std::to_string(c.changed) + " rows modified</div>")
        << c.query;
    EXPECT_EQ(Count("t"), c.rowsLeft) << c.query;
  }
  // A modifying statement run with "result" does its work and shows no rows.
  EXPECT_NE(Content(console_.Post("/admin/database", Form("DELETE FROM t", "result"))).find("No Result"),
            std::string::npos);
  EXPECT_EQ(Count("t"), 0);
}

TEST_F(QueryPageTest, ARejectedStatementIsAnErrorPageAndTheStoreAndConsoleGoOn) {
  const std::pair<std::string, std::string> cases[] = {
      {"SELEC * FROM t", "result"},
      {"DELETE FROM nowhere", "exec"},
      {"SELECT * FROM nowhere", "Result"},
      {"", "exec"},
      {"BEGIN; DELETE FROM t", "exec"},                // a transaction left open is rolled back
      {"BEGIN; DELETE FROM t; SELECT x FROM t", "exec"},
      {"SELECT '<script>' FROM", "result"},
  };
  for (const auto& [query, action] : cases) {
    auto answer = console_.Post("/admin/database", Form(query, action));
    EXPECT_EQ(answer.status, 400) << query;
    EXPECT_EQ(answer.body.find("<script>"), std::string::npos) << answer.body;
    EXPECT_EQ(Count("t"), 3) << query;
    // The store is free and outside any transaction: its own users go on.
    TSQLSettings row;
    row.Name = "After" + query;
    console_.Store().GetORM().InTransaction([&] { console_.Store().GetORM().Add(row); });
    EXPECT_EQ(console_.Get("/admin/database").status, 200);
  }
  EXPECT_NE(console_.Post("/admin/database", Form("BEGIN; DELETE FROM t", "exec")).body.find("rolled back"),
            std::string::npos);
  EXPECT_EQ(Content(console_.Post("/admin/database", Form("BEGIN; DELETE FROM t WHERE ID=3; COMMIT", "exec"))),
            "Query:BEGIN; DELETE FROM t WHERE ID=3; COMMIT\nResultData:<div class=\"msg\"><strong>Query Executed"
            "</strong> 1 rows modified</div>")
      << "a closed transaction is fine";
}

TEST_F(QueryPageTest, EachPostedQueryIsLoggedWithTheLogFile) {
  console_.Post("/admin/database", Form("SELECT 1", "result"));
  auto m = log_.Messages();
  auto at = std::find(m.begin(), m.end(), "[TCourioHTTP.Handle_DatabaseQuery] Query : SELECT 1");
  ASSERT_NE(at, m.end()) << log_.Text();
  ASSERT_NE(at + 1, m.end());
  EXPECT_EQ(*(at + 1), "[TCourioHTTP.Handle_DatabaseQuery]  : " + LogFacility::Instance().FileName());
}

TEST_F(QueryPageTest, AStatementThatWouldRunForeverIsInterruptedWhenTheConsoleStops) {
  auto running = std::async(std::launch::async, [this] {
    return console_.Post("/admin/database",
                         Form("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
                              "SELECT count(*) FROM c",
                              "result"));
  });
  ASSERT_TRUE(test::WaitUntil([&] { return log_.Contains("Query : WITH RECURSIVE"); }, 10s));
  std::this_thread::sleep_for(200ms);
  auto before = std::chrono::steady_clock::now();
  console_.Console().Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
  ASSERT_EQ(running.wait_for(10s), std::future_status::ready);
  auto answer = running.get();
  EXPECT_EQ(answer.status, 400);
  EXPECT_NE(answer.body.find("interrupted"), std::string::npos) << answer.body;
  EXPECT_EQ(Count("t"), 3) << "the store still answers";
}

TEST(ConsoleEscapingTest, StoredMarkupShowsAsTextInTheProjectsPages) {
  TRunningConsole console(TRunningConsole::TTemplates::Project);
  test::AddSettingsRow(console.Store(), "Store",
                       {{"id", 7}, {"bold", "<b>bold</b>"}, {"script", "<script>alert(1)</script>"},
                        {"quote", "\"><img src=x onerror=alert(2)>"}});
  auto settings = console.Get("/admin/settings/Store");
  ASSERT_EQ(settings.status, 200);
  for (const auto& page : {settings.body, console.Post("/admin/database",
                                                       Form("SELECT Value FROM Settings", "result")).body}) {
    EXPECT_EQ(page.find("<script>alert"), std::string::npos) << page;
    EXPECT_EQ(page.find("<b>bold"), std::string::npos) << page;
    EXPECT_EQ(page.find("<img"), std::string::npos) << page;
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << page;
  }
  EXPECT_NE(settings.body.find("value=\"&lt;b&gt;bold&lt;/b&gt;\""), std::string::npos) << settings.body;
  EXPECT_NE(settings.body.find("name=\"id\" value=\"7\""), std::string::npos) << settings.body;
  EXPECT_NE(settings.body.find("action=\"/admin/settings/Store\""), std::string::npos);
  auto query = console.Get("/admin/database");
  EXPECT_NE(query.body.find(">SELECT * FROM | WHERE 1=1</textarea>"), std::string::npos) << query.body;
  EXPECT_NE(query.body.find("value=\"result\""), std::string::npos);
  EXPECT_NE(query.body.find("value=\"exec\""), std::string::npos);
  EXPECT_NE(query.body.find("href=\"/admin/assets/css/site.css\""), std::string::npos);
  EXPECT_EQ(console.Get("/admin/assets/css/site.css").status, 200);
}

}  // namespace
}  // namespace courio
