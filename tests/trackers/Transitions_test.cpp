// The two collect/delivery transition trackers on the embedded POS and a
// temporary local store. The service clock is the test's, so the audit rows
// pos-sim writes carry the seconds the test chooses.
#include <gtest/gtest.h>

#include <algorithm>

#include "pos/PosTestSupport.hpp"
#include "pos/implPlinthInvoices.hpp"
#include "store/clsCourioData.hpp"
#include "support/StoreSupport.hpp"
#include "trackers/implCourioEventTrackerCollectToDelivery.hpp"
#include "trackers/implCourioEventTrackerDeliveryToCollect.hpp"

namespace courio {
namespace {

enum class TKind { CollectToDelivery, DeliveryToCollect };

struct TKindTraits {
  const char* name;
  int eventType;
  bool ringCollection;  // the invoice is rung up as a collection and turned into a delivery
  int turnedTo;
};

TKindTraits Traits(TKind kind) {
  return kind == TKind::CollectToDelivery ? TKindTraits{"CollectToDelivery", 1, true, 3}
                                          : TKindTraits{"DeliveryToCollect", 3, false, 2};
}

TDateTime Seconds(double s) { return s / 86400; }

class TransitionsTest : public test::PosFixture, public ::testing::WithParamInterface<TKind> {
 protected:
  void SetUp() override {
    PosFixture::SetUp();
    // A whole second a little ahead, so the test can place rows before it.
    start_ = IncSecond(TruncToSecond(SystemNow()), 10);
    now_ = start_;
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

  TKindTraits K() const { return Traits(GetParam()); }
  std::unique_ptr<TCourioEventTracker> Make() {
    std::unique_ptr<TCourioEventTracker> t;
    if (GetParam() == TKind::CollectToDelivery)
      t = std::make_unique<TCourioEventTrackerCollectToDelivery>();
    else
      t = std::make_unique<TCourioEventTrackerDeliveryToCollect>();
    t->Initialise();
    return t;
  }
  // Sets the clock to `seconds` (and a fraction) after the start.
  void At(double seconds) { now_ = start_ + Seconds(seconds); }
  // A pass past the 15-second gap, later than any pass before.
  void Pass(TCourioEventTracker& t) {
    passAt_ = std::max(passAt_, now_.load()) + Seconds(16);
    now_ = passAt_;
    t.ThreadTask();
  }
  int Ring(bool withItems = true) {
    return possim::RingInvoice(dbPath, {.collection = K().ringCollection, .noItems = !withItems});
  }
  // The invoices change kind together, audited in the clock's second.
  void Turn(std::initializer_list<int> invoices) {
    std::vector<possim::TTransTypeChange> changes;
    for (int i : invoices) changes.push_back({i, K().turnedTo});
    possim::ChangeTransTypes(dbPath, changes);
  }
  // [[InvoiceNum, EventType], ...] in recording order.
  TJson Events() {
    TJson out = TJson::array();
    TJson rows = ParseJson(store_->GetDatabase().ExecuteJSON("SELECT InvoiceNum, EventType FROM InvoiceEvent ORDER BY ID"));
    if (rows.is_array())
      for (const auto& r : rows) out.push_back({r["InvoiceNum"], r["EventType"]});
    return out;
  }
  TJson Recorded(std::initializer_list<int> invoices) {
    TJson out = TJson::array();
    for (int i : invoices) out.push_back({i, K().eventType});
    return out;
  }
  std::string Watermark(const TCourioEventTracker& t) { return JsonAsText(JsonGet(t.Settings().Value, "LastTimestamp")); }
  std::string Second(double seconds) { return DateTimeToIso(start_ + Seconds(seconds)); }

  test::TempDir storeDir_;
  test::LogCapture log_;
  TDateTime start_ = 0;
  TDateTime passAt_ = 0;
  std::atomic<TDateTime> now_{0};
  std::shared_ptr<TCourioDataStore> store_;
};

INSTANTIATE_TEST_SUITE_P(Twins, TransitionsTest,
                         ::testing::Values(TKind::CollectToDelivery, TKind::DeliveryToCollect),
                         [](const auto& info) { return std::string(Traits(info.param).name); });

TEST_P(TransitionsTest, AFirstStartReportsOnlyTransitionsAuditedFromTheNextSecondOn) {
  At(-5.5);
  int earlier = Ring();
  Turn({earlier});
  At(0.2);
  int sameSecondBefore = Ring();
  Turn({sameSecondBefore});
  At(0.5);
  auto t = Make();
  EXPECT_EQ(Watermark(*t), Second(1)) << "the settings row starts at the next whole second";
  At(0.8);
  // Audited in the first start's own second, after it: cannot be told apart
  // from the rows before it, so it is not reported either.
  int sameSecondAfter = Ring();
  Turn({sameSecondAfter});
  At(1.1);
  int later = Ring();
  Turn({later});
  Pass(*t);
  EXPECT_EQ(Events(), Recorded({later})) << "the invoices pos-sim's new shop audited yesterday are not reported either";
}

TEST_P(TransitionsTest, TwoTransitionsInOneSecondAreBothReportedOnceAcrossPasses) {
  auto t = Make();
  At(3.1);
  int a = Ring(), b = Ring(), c = Ring();
  At(3.2);
  Turn({a});
  Pass(*t);
  EXPECT_EQ(Events(), Recorded({a}));
  EXPECT_EQ(Watermark(*t), Second(3)) << "invoice Date and audit row share the second";
  // Audited in the same second as a, but written after the pass.
  At(3.7);
  Turn({b, c});
  Pass(*t);
  EXPECT_EQ(Events(), Recorded({a, b, c}));
  Pass(*t);
  EXPECT_EQ(Events(), Recorded({a, b, c})) << "rows read again are skipped";
  EXPECT_EQ(Watermark(*t), Second(3));
}

// An event already in the store for the invoice: CollectToDelivery records
// nothing whatever its type (the order may have been reported as a new
// delivery), DeliveryToCollect only skips its own type 3. When nothing is
// recorded the watermark takes the stored event's time, but never one later
// than the audit row.
TEST_P(TransitionsTest, AnExistingEventOfEachKind) {
  struct Case {
    int existingType;
    double existingOffset;  // seconds from the audit row
  };
  const Case cases[] = {{1, -3600}, {2, -60}, {2, +3600}, {3, -600}, {4, -120}, {4, +60}};
  auto t = Make();
  double second = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "existing type " << c.existingType << " at " << c.existingOffset);
    second += 20;
    At(second + 0.1);
    int invoice = Ring();
    TSQLInvoiceEvent existing;
    existing.InvoiceNum = invoice;
    existing.EventType = c.existingType;
    existing.Timestamp = start_ + Seconds(second + c.existingOffset);
    existing.UploadStatus = 1;
    store_->GetORM().Add(existing);
    At(second + 0.4);
    Turn({invoice});
    Pass(*t);

    const bool recorded = GetParam() == TKind::DeliveryToCollect && c.existingType != 3;
    TJson expected = TJson::array({{invoice, c.existingType}});
    if (recorded) expected.push_back({invoice, K().eventType});
    TJson mine = TJson::array();
    for (const auto& e : Events())
      if (e[0] == invoice) mine.push_back(e);
    EXPECT_EQ(mine, expected);
    EXPECT_EQ(Watermark(*t), recorded || c.existingOffset > 0 ? Second(second) : DateTimeToIso(existing.Timestamp));
  }
}

TEST_P(TransitionsTest, TheEventCarriesWhatTheTrackerRecords) {
  auto t = Make();
  At(2.3);
  int invoice = Ring();
  At(5.6);
  Turn({invoice});
  Pass(*t);
  TSQLInvoiceEvent e;
  ASSERT_TRUE(store_->GetORM().Retrieve("InvoiceNum = %", {invoice}, e));
  EXPECT_EQ(e.EventType, K().eventType);
  EXPECT_EQ(e.UploadStatus, 0);
  if (GetParam() == TKind::CollectToDelivery) {
    // The invoice's Date, and the order document exactly as a new delivery gets it.
    EXPECT_EQ(DateTimeToIso(e.Timestamp), Second(2));
    IDBManagerPtr db = Connect();
    TPlinthInvoices builder;
    builder.Configure(db, 17);
    TJson document;
    builder.GetInvoiceData(invoice, document);
    EXPECT_EQ(e.EventData, JsonDump(document));
    const std::string prefix = "[TCourioEventTrackerCollectToDelivery.ThreadTask] ";
    EXPECT_TRUE(log_.Contains(prefix + "Count : 1"));
    EXPECT_TRUE(log_.Contains(prefix + "Getting the invoices"));
    EXPECT_TRUE(log_.Contains(prefix + "Invoice : " + std::to_string(invoice)));
  } else {
    // The audit row's time and no data; the tracker logs nothing but errors.
    EXPECT_EQ(DateTimeToIso(e.Timestamp), Second(5));
    EXPECT_EQ(e.EventData, "");
    EXPECT_FALSE(log_.Contains("[TCourioEventTrackerDeliveryToCollect.ThreadTask]"));
  }
  EXPECT_EQ(JsonAsText(JsonGet(t->Settings().Value, "LastCheck")), DateTimeToIso(now_.load()));
}

TEST_P(TransitionsTest, TheSameInvoiceTurnedBackAndForthIsReportedOnce) {
  auto t = Make();
  At(2.1);
  int invoice = Ring();
  At(3.1);
  Turn({invoice});
  Pass(*t);
  // Back, and once more the same way, in a later second.
  At(40.2);
  possim::ChangeTransType(dbPath, invoice, K().ringCollection ? 2 : 3);
  At(41.3);
  Turn({invoice});
  Pass(*t);
  Pass(*t);
  EXPECT_EQ(Events(), Recorded({invoice}));
}

class CollectToDeliveryTest : public TransitionsTest {};
INSTANTIATE_TEST_SUITE_P(Builder, CollectToDeliveryTest, ::testing::Values(TKind::CollectToDelivery),
                         [](const auto&) { return std::string("CollectToDelivery"); });

// The document cannot be built yet: the pass fails at that row, the watermark
// stays before it, and the next try comes after the gap, not sooner.
TEST_P(CollectToDeliveryTest, AnInvoiceThatCannotBeBuiltIsTriedAgainAfterTheGap) {
  auto t = Make();
  At(2.2);
  int built = Ring();
  int late = Ring(false);
  Turn({built});
  At(3.2);
  Turn({late});
  Pass(*t);
  EXPECT_EQ(Events(), Recorded({built}));
  EXPECT_EQ(Watermark(*t), Second(2)) << "left at the last row handled";
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerCollectToDelivery.ThreadTask] Error : Invoice " +
                            std::to_string(late) + " has no line items"));
  const std::string failedAt = JsonAsText(JsonGet(t->Settings().Value, "LastCheck"));
  EXPECT_EQ(failedAt, DateTimeToIso(now_.load())) << "a failed pass still writes LastCheck";

  possim::AddLineItems(dbPath, late);
  for (double later : {0.2, 5.0, 15.0}) {
    now_ = passAt_ + Seconds(later);
    t->ThreadTask();
  }
  EXPECT_EQ(Events(), Recorded({built})) << "no pass within the gap";
  Pass(*t);
  EXPECT_EQ(Events(), Recorded({built, late}));
}

TEST_P(CollectToDeliveryTest, WithoutAStoreRowTheBuildFailsAndNothingIsRecorded) {
  store_->GetDatabase().Execute("DELETE FROM Settings WHERE Name = 'Store'");
  auto t = Make();
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerCollectToDelivery.Initialise] Error : No \"Store\" settings row"));
  At(2.5);
  int invoice = Ring();
  Turn({invoice});
  Pass(*t);
  EXPECT_EQ(Events(), TJson::array());
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerCollectToDelivery.ThreadTask] Error : TPlinthInvoices is not configured"));
}

}  // namespace
}  // namespace courio
