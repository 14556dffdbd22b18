// The invoice-overring tracker on the embedded POS and a temporary local store.
#include "trackers/implCourioEventTrackerInvoiceOverring.hpp"

#include <gtest/gtest.h>

#include "pos/PosTestSupport.hpp"
#include "store/clsCourioData.hpp"
#include "common/util/StrUtils.hpp"
#include "support/StoreSupport.hpp"

namespace courio {
namespace {

const char* const kTask = "[TCourioEventTrackerInvoiceOverring.ThreadTask] ";

class InvoiceOverringTest : public test::PosFixture {
 protected:
  void SetUp() override {
    PosFixture::SetUp();
    SetClockForTesting([this] { return now_.load(); });
    store_ = std::make_shared<TCourioDataStore>(storeDir_.File("CourioSvc.db3"));
    container->AddInstance<ICourioDataStore>(store_);
    delivery_ = possim::RingInvoice(dbPath);
  }
  void TearDown() override {
    SetClockForTesting(nullptr);
    PosFixture::TearDown();
  }
  std::unique_ptr<TCourioEventTrackerInvoiceOverring> Make() {
    auto t = std::make_unique<TCourioEventTrackerInvoiceOverring>();
    t->Initialise();
    return t;
  }
  void Pass(TCourioEventTrackerInvoiceOverring& t) {
    now_ = now_.load() + 11 / 86400.0;
    t.ThreadTask();
  }
  long long LastActivity(const TCourioEventTrackerInvoiceOverring& t) {
    return JsonAsInt(JsonGet(t.Settings().Value, "LastActivity"));
  }
  long long HighestActivity() { return Connect()->QueryInteger("SELECT MAX( ActivityID ) AS Id FROM ACTIVITY", "Id"); }
  // An ACTIVITY line with the next id; its id.
  long long Line(const std::string& code, const std::string& text, const std::string& date = "2024-05-02 19:00:00") {
    Sql("INSERT INTO ACTIVITY (DATE, ACTCODE, ACTIVITY, EmpNum) VALUES ('" + date + "', '" + code + "', " +
        QuotedStr(text) + ", '0001')");
    return HighestActivity();
  }
  // [[InvoiceNum, EventData], ...] of the type 4 events in recording order.
  TJson Overrings() {
    TJson out = TJson::array();
    TJson rows = ParseJson(store_->GetDatabase().ExecuteJSON(
        "SELECT InvoiceNum, EventData, Timestamp FROM InvoiceEvent WHERE EventType = 4 ORDER BY ID"));
    if (rows.is_array())
      for (const auto& r : rows) out.push_back({r["InvoiceNum"], ParseJson(JsonAsText(r["EventData"]))});
    return out;
  }

  test::TempDir storeDir_;
  test::LogCapture log_;
  std::atomic<TDateTime> now_{SystemNow()};
  std::shared_ptr<TCourioDataStore> store_;
  int delivery_ = 0;
};

TEST_F(InvoiceOverringTest, FirstStartSeedsFromTheHighestActivityAndOlderOverringsAreNeverReported) {
  // pos-sim's new shop holds an overring line of yesterday; one more now.
  possim::OverringInvoice(dbPath, delivery_);
  const long long highest = HighestActivity();
  auto t = Make();
  EXPECT_EQ(LastActivity(*t), highest);
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerInvoiceOverring.Initialise] Last ActivityID : " +
                            std::to_string(highest)));
  Pass(*t);
  EXPECT_EQ(Overrings(), TJson::array());
  EXPECT_FALSE(log_.Contains(std::string(kTask) + "Invoice Count")) << "a count of 0 is not logged";
  EXPECT_EQ(JsonAsText(JsonGet(t->Settings().Value, "LastCheck")), DateTimeToIso(now_.load()));

  const TDateTime overrungAt = now_.load();
  int id = possim::OverringInvoice(dbPath, delivery_);
  Pass(*t);
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "Invoice Count : 1"));
  EXPECT_EQ(Overrings(), TJson::array({{delivery_, {{"ActivityID", id}}}}));
  EXPECT_EQ(LastActivity(*t), id);
  TSQLInvoiceEvent e;
  ASSERT_TRUE(store_->GetORM().Retrieve("EventType = 4", {}, e));
  EXPECT_EQ(e.UploadStatus, 0);
  EXPECT_EQ(DateTimeToIso(e.Timestamp), DateTimeToIso(overrungAt)) << "the line's DATE (pos-sim stamps it with the clock)";
}

TEST_F(InvoiceOverringTest, AnEmptyActivityLogSeedsMinusOneAndTheFirstLineCounts) {
  Sql("DELETE FROM ACTIVITY");
  auto t = Make();
  EXPECT_EQ(LastActivity(*t), -1);
  int id = possim::OverringInvoice(dbPath, delivery_);
  Pass(*t);
  EXPECT_EQ(Overrings(), TJson::array({{delivery_, {{"ActivityID", id}}}}));
}

// Lines that must not count, in the same pass as one that does, after it:
// the pass succeeds, only the overring is recorded, and LastActivity stays at
// the overring's line (the others are not read).
TEST_F(InvoiceOverringTest, OnlyOverringsOfDeliveriesWithAStatusCount) {
  const int collection = possim::RingInvoice(dbPath, {.collection = true});
  const int settled = possim::RingInvoice(dbPath);
  Sql("UPDATE INVOICES SET Status = 0 WHERE InvoiceNum = " + std::to_string(settled));
  const std::string n = std::to_string(delivery_);
  auto t = Make();
  const long long overring = Line("EX040", "Invoice " + n + " O/R", "2024-05-02 19:00:07");
  const std::vector<std::pair<std::string, std::string>> ignored = {
      {"EX040", "Invoice " + n + " O/R cancel"},
      {"EX040", "Invoice " + n + " voided"},
      {"EX040", "Invoice " + n + "a O/R"},
      {"EX040", "Invoice abc O/R"},
      {"EX040", "Invoice O/R"},
      {"EX040", "Shift closed"},
      {"EX040", "Invoice " + std::to_string(collection) + " O/R"},
      {"EX040", "Invoice " + std::to_string(settled) + " O/R"},
      {"EX041", "Invoice " + n + " O/R"},
  };
  for (const auto& [code, text] : ignored) Line(code, text);
  Pass(*t);
  EXPECT_FALSE(log_.Contains(std::string(kTask) + "Error")) << log_.Text();
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "Invoice Count : 1"));
  EXPECT_EQ(Overrings(), TJson::array({{delivery_, {{"ActivityID", overring}}}}));
  EXPECT_EQ(LastActivity(*t), overring);
  TSQLInvoiceEvent e;
  ASSERT_TRUE(store_->GetORM().Retrieve("EventType = 4", {}, e));
  EXPECT_EQ(DateTimeToIso(e.Timestamp), "2024-05-02T19:00:07");
}

TEST_F(InvoiceOverringTest, AnInvoiceAlreadyOverrungIsRecordedOnceAndProgressStillMoves) {
  auto t = Make();
  // Two lines for one invoice in one pass (a burst within one second).
  std::vector<int> ids = possim::OverringInvoices(dbPath, {delivery_, delivery_});
  Pass(*t);
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "Invoice Count : 2"));
  EXPECT_EQ(Overrings(), TJson::array({{delivery_, {{"ActivityID", ids[0]}}}}));
  EXPECT_EQ(LastActivity(*t), ids[1]);
  // Once more in a later pass.
  int third = possim::OverringInvoice(dbPath, delivery_);
  Pass(*t);
  EXPECT_EQ(Overrings(), TJson::array({{delivery_, {{"ActivityID", ids[0]}}}}));
  EXPECT_EQ(LastActivity(*t), third);
}

TEST_F(InvoiceOverringTest, ARestartKeepsTheProgressAndReportsWhatHappenedMeanwhile) {
  long long seeded;
  {
    auto t = Make();
    seeded = LastActivity(*t);
    t->Finalise();
  }
  int whileStopped = possim::OverringInvoice(dbPath, delivery_);
  auto t = Make();
  EXPECT_EQ(LastActivity(*t), seeded);
  Pass(*t);
  EXPECT_EQ(Overrings(), TJson::array({{delivery_, {{"ActivityID", whileStopped}}}}));
}

}  // namespace
}  // namespace courio
