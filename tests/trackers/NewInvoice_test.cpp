// The new-invoice tracker on the embedded POS and a temporary local store.
#include "trackers/implCourioEventTrackerNewInvoice.hpp"

#include "pos/PosTestSupport.hpp"
#include "pos/implPlinthInvoices.hpp"
#include "store/clsCourioData.hpp"
#include "support/StoreSupport.hpp"

namespace courio {
namespace {

class NewInvoiceTest : public test::PosFixture {
 protected:
  void SetUp() override {
    PosFixture::SetUp();
    SetClockForTesting([this] { return now_.load(); });
    RegisterPlinthInvoices(*container);
    store_ = std::make_shared<TCourioDataStore>(storeDir_.File("CourioSvc.db3"));
    container->AddInstance<ICourioDataStore>(store_);
    test::AddSettingsRow(*store_, "Store", {{"id", 17}});
  }
  void TearDown() override {
    SetClockForTesting(nullptr);
    PosFixture::TearDown();
  }
  std::unique_ptr<TCourioEventTrackerNewInvoice> Make() {
    auto t = std::make_unique<TCourioEventTrackerNewInvoice>();
    t->Initialise();
    return t;
  }
  // Moves the clock past the gap and runs one pass.
  void Pass(TCourioEventTrackerNewInvoice& t) {
    now_ = now_.load() + 11 / 86400.0;
    t.ThreadTask();
  }
  std::string Events() {
    return store_->GetDatabase().ExecuteJSON("SELECT InvoiceNum, EventType, UploadStatus FROM InvoiceEvent ORDER BY ID");
  }
  long long LastInvoice(const TCourioEventTrackerNewInvoice& t) {
    return JsonAsInt(JsonGet(t.Settings().Value, "LastInvoice"));
  }

  test::TempDir storeDir_;
  test::LogCapture log_;
  std::atomic<TDateTime> now_{SystemNow()};
  std::shared_ptr<TCourioDataStore> store_;
};

TEST_F(NewInvoiceTest, FirstStartSeedsFromTheHighestInvoiceAndReportsOnlyNewDeliveries) {
  auto t = Make();
  long long seeded = LastInvoice(*t);
  EXPECT_GT(seeded, 0);
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerNewInvoice.Initialise] Last Invoice : " + std::to_string(seeded)));
  Pass(*t);
  EXPECT_EQ(Events(), "{}") << "invoices that existed at the first start are never reported";
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerNewInvoice.ThreadTask] Invoice Count : 0"));

  int collection = possim::RingInvoice(dbPath, {.collection = true});
  int delivery = possim::RingInvoice(dbPath);
  Pass(*t);
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerNewInvoice.ThreadTask] Invoice Count : 1"));
  EXPECT_EQ(Events(), "[{\"InvoiceNum\":" + std::to_string(delivery) + ",\"EventType\":1,\"UploadStatus\":0}]");
  EXPECT_EQ(LastInvoice(*t), delivery);
  EXPECT_LT(collection, delivery);

  TSQLInvoiceEvent e;
  ASSERT_TRUE(store_->GetORM().Retrieve("InvoiceNum = %", {delivery}, e));
  TJson doc = ParseJson(e.EventData);
  EXPECT_EQ(doc["external_id"], "plinth-" + std::to_string(delivery));
  EXPECT_EQ(doc["store_id"], "17");
  TJson row = ParseJson(possim::ShowInvoice(dbPath, delivery));
  EXPECT_EQ(DateTimeToIso(e.Timestamp), DateTimeToIso(IsoToDateTime(JsonAsText(JsonGet(row, "Date")))));
}

TEST_F(NewInvoiceTest, AnEmptyInvoiceTableLeavesTheSeedAtMinusOneAndTheFirstDeliveryIsReported) {
  possim::ExecSql(dbPath, "DELETE FROM LINEITEM; DELETE FROM INVOICES;");
  auto t = Make();
  EXPECT_EQ(LastInvoice(*t), -1);
  int first = possim::RingInvoice(dbPath);
  Pass(*t);
  EXPECT_EQ(Events(), "[{\"InvoiceNum\":" + std::to_string(first) + ",\"EventType\":1,\"UploadStatus\":0}]");
}

TEST_F(NewInvoiceTest, AnInvoiceWhoseLineItemsComeLateIsReportedOnceTheyExist) {
  auto t = Make();
  int late = possim::RingInvoice(dbPath, {.noItems = true});
  int next = possim::RingInvoice(dbPath);
  long long before = LastInvoice(*t);
  Pass(*t);
  EXPECT_EQ(Events(), "{}") << "invoices behind it wait";
  EXPECT_EQ(LastInvoice(*t), before);
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerNewInvoice.ThreadTask] Error : Invoice " + std::to_string(late) +
                            " has no line items"));
  // Retried soon (the back-off starts at 100 ms), not only after the gap.
  now_ = now_.load() + 0.2 / 86400;
  t->ThreadTask();
  EXPECT_EQ(log_.Count("Invoice Count : 2"), 2u);
  possim::AddLineItems(dbPath, late);
  now_ = now_.load() + 0.5 / 86400;
  t->ThreadTask();
  EXPECT_EQ(Events(), "[{\"InvoiceNum\":" + std::to_string(late) + ",\"EventType\":1,\"UploadStatus\":0}," +
                          "{\"InvoiceNum\":" + std::to_string(next) + ",\"EventType\":1,\"UploadStatus\":0}]");
  TSQLInvoiceEvent e;
  ASSERT_TRUE(store_->GetORM().Retrieve("InvoiceNum = %", {late}, e));
  std::string details = JsonAsText(ParseJson(e.EventData)["delivery_details"]);
  EXPECT_FALSE(details.empty());
  EXPECT_EQ(details.substr(details.size() - 2), "\r\n");
}

TEST_F(NewInvoiceTest, AnInvoiceWithAnyEventAlreadyRecordedIsPassedOverAndProgressStillMoves) {
  auto t = Make();
  int num = possim::RingInvoice(dbPath);
  TSQLInvoiceEvent earlier;
  earlier.InvoiceNum = num;
  earlier.EventType = 3;
  store_->GetORM().Add(earlier);
  Pass(*t);
  EXPECT_EQ(Events(), "[{\"InvoiceNum\":" + std::to_string(num) + ",\"EventType\":3,\"UploadStatus\":0}]");
  EXPECT_EQ(LastInvoice(*t), num);
}

TEST_F(NewInvoiceTest, ARestartKeepsTheSeedAndReportsWhatWasRungUpMeanwhile) {
  long long seeded;
  {
    auto t = Make();
    seeded = LastInvoice(*t);
    t->Finalise();
  }
  int whileStopped = possim::RingInvoice(dbPath);
  possim::ExecSql(dbPath, "INSERT INTO INVOICES (InvoiceNum, TransType) VALUES (" + std::to_string(whileStopped + 100) +
                              ", 2)");  // a higher collection must not move the seed
  auto t = Make();
  EXPECT_EQ(LastInvoice(*t), seeded);
  Pass(*t);
  EXPECT_EQ(Events(), "[{\"InvoiceNum\":" + std::to_string(whileStopped) + ",\"EventType\":1,\"UploadStatus\":0}]");
}

TEST_F(NewInvoiceTest, WithoutAStoreRowEveryNewDeliveryFailsAtTheBuild) {
  store_->GetDatabase().Execute("DELETE FROM Settings WHERE Name = 'Store'");
  auto t = Make();
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerNewInvoice.Initialise] Error : No \"Store\" settings row"));
  possim::RingInvoice(dbPath);
  Pass(*t);
  EXPECT_EQ(Events(), "{}");
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerNewInvoice.ThreadTask] Error : TPlinthInvoices is not configured"));
}

}  // namespace
}  // namespace courio
