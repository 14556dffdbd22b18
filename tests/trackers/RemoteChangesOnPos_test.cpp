// The remote delivery-changes tracker against the embedded POS (a pos-sim
// database reached through the registry file, unixODBC and the SQLite3
// driver), fed by a local HTTP cloud for exact times and by cloud-sim for the
// whole inbound road.

#include <gtest/gtest.h>

#include <atomic>

#include "PosShop.hpp"
#include "cloud/CloudTestSupport.hpp"
#include "cloud/intfCourioAPI.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/posdb/implDBManagerPlinth.hpp"
#include "common/di/implDI.hpp"
#include "common/registry/implPlinthRegistry.hpp"
#include "common/util/StrUtils.hpp"
#include "common/rest/intfRestClient.hpp"
#include "store/clsCourioData.hpp"
#include "support/TestSupport.hpp"
#include "support/StoreSupport.hpp"
#include "trackers/RemoteChangesTestCloud.hpp"
#include "trackers/implCourioEventTrackerRemoteChanges.hpp"

namespace courio {
namespace {

std::string Sql(TDateTime t) { return "'" + FormatDateTime("yyyy-mm-dd hh:nn:ss", t) + "'"; }
TDateTime Minutes(TDateTime t, double minutes) { return t + minutes / 1440; }

class RemoteChangesOnPosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    possim::InitDatabase(posPath_);
    test::WriteFile(regPath_, possim::RegFileText(posPath_));
    SetClockForTesting([this] { return now_.load(); });
    di_ = std::make_shared<TPlinthDI>();
    std::string reg = regPath_;
    di_->AddFactory(IPlinthRegistry::IID, std::make_shared<TPlinthFnFactory>([reg]() -> IInterfacePtr {
                      return std::make_shared<TPlinthRegistry>(reg);
                    }));
    RegisterDBManagerPlinth(*di_);
    RegisterRestClient(*di_);
    RegisterCourioAPI(*di_);
    store_ = std::make_shared<TCourioDataStore>(dir_.File("CourioSvc.db3"));
    di_->AddInstance<ICourioDataStore>(store_);
    SetPlinthDI(di_);
    SharedRow("Account", {{"email_address", test::kSimUser}, {"password", test::kSimPassword}});
    SharedRow("Store", {{"id", 7}});
  }
  void TearDown() override {
    SetPlinthDI(nullptr);
    SetClockForTesting(nullptr);
  }

  void SharedRow(const std::string& name, TJson value) { test::AddSettingsRow(*store_, name, std::move(value)); }
  // The columns the tracker writes, read back through ODBC.
  TJson InvoiceRow(int invoice) {
    IDBManagerPtr db;
    if (!PlinthDI().CreateNamedInstance("plinth", db)) throw std::runtime_error("no plinth factory");
    db->Connect();
    std::string json;
    db->QueryJSONFmt(
        "SELECT Driver, TimeToDrvr, DriverLink, TimeStampDriver, TIMEATCUST FROM INVOICES WHERE InvoiceNum = %d",
        {invoice}, json);
    TJson rows = ParseJson(json);
    return rows.is_array() && rows.size() == 1 ? rows[0] : rows;
  }
  static TJson Row(TJson driver, TJson toDriver, TJson link, TJson dispatched, TJson delivered) {
    auto iso = [](const TJson& t) { return t.is_number() ? TJson(DateTimeToIso(t.get<double>())) : t; };
    return {{"Driver", driver},
            {"TimeToDrvr", iso(toDriver)},
            {"DriverLink", link},
            {"TimeStampDriver", iso(dispatched)},
            {"TIMEATCUST", iso(delivered)}};
  }
  std::vector<TSQLRemoteEvent> Events() {
    std::vector<TSQLRemoteEvent> out;
    for (long long last = 0;;) {
      TSQLRemoteEvent e;
      if (!store_->GetORM().Retrieve("ID > ? ORDER BY ID", {last}, e)) return out;
      last = e.ID;
      out.push_back(e);
    }
  }

  test::TempDir dir_;
  test::LogCapture log_;
  std::string posPath_ = dir_.File("pos.db");
  std::string regPath_ = dir_.File("Plinth.reg");
  // The tracker's clock follows the wall clock the POS's GETDATE() uses.
  std::atomic<TDateTime> now_{TruncToSecond(SystemNow())};
  std::shared_ptr<TPlinthDI> di_;
  std::shared_ptr<TCourioDataStore> store_;
};

TEST_F(RemoteChangesOnPosTest, WritesDriverLinkAndTimesIntoTheInvoices) {
  // Times relative to now: GETDATE() is the database's own clock.
  const TDateTime ta = Minutes(now_, 5);    // an open row counts as ending 10 minutes after now: it covers ta
  const TDateTime ta2 = Minutes(now_, 20);  // ... but not ta2
  const TDateTime day = DateOf(ta), day2 = DateOf(ta2);
  possim::ExecSql(
      posPath_,
      "INSERT INTO INVOICES (InvoiceNum, TransType, Date, DriverLink) VALUES (9001, 3, " + Sql(now_) + ", NULL), (9002, 3, " +
          Sql(now_) + ", 55), (9003, 3, " + Sql(now_) + ", NULL), (9004, 3, " + Sql(now_) + ", 77);" +
          "INSERT INTO ATTEND (InvoiceLink, EmpNum, InDateTime, OutDateTime) VALUES "
          // 0042: open since just after midnight (links); ended before the assignment; began 23:50 the day before.
          "(901, '0042', " + Sql(IncSecond(day, 1)) + ", NULL), (902, '0042', " + Sql(IncSecond(day, 2)) + ", " +
          Sql(Minutes(ta, -1)) + "), (903, '0042', " + Sql(Minutes(day, -10)) + ", NULL), " +
          // 0043: only an open row begun 23:50 the day before.
          "(904, '0043', " + Sql(Minutes(day, -10)) + ", NULL), " +
          // 0044 at ta2: a row ending exactly then links; the open one does not reach ta2.
          "(905, '0044', " + Sql(IncSecond(day2, 1)) + ", " + Sql(ta2) + "), (906, '0044', " +
          Sql(IncSecond(day2, 2)) + ", NULL)");
  auto change = [](const char* invoice, TJson driver, TDateTime assigned, TJson dispatched, TJson delivered) {
    return TJson{{"external_id", invoice},           {"driver_external_id", driver},
                 {"timestamp_assigned", DateTimeToIso(assigned)}, {"timestamp_dispatched", dispatched},
                 {"timestamp_delivered", delivered}};
  };
  TJson deliveries = TJson::array(
      {change("plinth-9001", "PLINTH_0042", ta, DateTimeToIso(Minutes(ta, 1)), DateTimeToIso(Minutes(ta, 3))),
       change("plinth-9002", "PLINTH_0043", ta, nullptr, nullptr),
       change("plinth-9003", "PLINTH_0044", ta2, nullptr, nullptr), change("plinth-9004", nullptr, ta, nullptr, nullptr)});
  test::TRemoteChangesTestCloud cloud;
  cloud.Answer(JsonDump(TJson{{"deliveries", deliveries}, {"since", DateTimeToIso(ta2)}}));
  SharedRow("WebService", {{"Url", cloud.BaseURL()}});

  TCourioEventTrackerRemoteChanges tracker;
  tracker.Initialise();
  tracker.ThreadTask();

  EXPECT_EQ(InvoiceRow(9001), Row("0042", ta, 901, Minutes(ta, 1), Minutes(ta, 3)));
  EXPECT_EQ(InvoiceRow(9002), Row("0043", ta, nullptr, nullptr, nullptr));
  EXPECT_EQ(InvoiceRow(9003), Row("0044", ta2, 905, nullptr, nullptr));
  EXPECT_EQ(InvoiceRow(9004), Row("", ta, nullptr, nullptr, nullptr));
  auto events = Events();
  ASSERT_EQ(events.size(), 6u);
  for (const auto& e : events) EXPECT_EQ(e.AppliedStatus, 1) << e.InvoiceNum << "/" << e.EventType;
  EXPECT_FALSE(log_.Contains("Error"));
  tracker.Finalise();
}

TEST_F(RemoteChangesOnPosTest, TheInboundRoadFromCloudSimToThePos) {
  test::TSimProcess sim;
  SharedRow("WebService", {{"Url", sim.BaseURL()}});
  // The order as the uploader would have sent it, then moved along in the cloud.
  httplib::Client api("127.0.0.1", sim.Port());
  api.set_basic_auth(test::kSimUser, test::kSimPassword);
  auto added = api.Post("/api/delivery/json", R"({"external_id":"plinth-9101","store_id":7})", "application/json");
  ASSERT_TRUE(added && added->status == 200);
  const TDateTime assigned = Minutes(now_, 1), dispatched = Minutes(now_, 2), delivered = Minutes(now_, 4);
  possim::ExecSql(posPath_, "INSERT INTO INVOICES (InvoiceNum, TransType, Date) VALUES (9101, 3, " + Sql(now_) +
                                "); INSERT INTO ATTEND (InvoiceLink, EmpNum, InDateTime) VALUES (931, '0042', " +
                                Sql(IncSecond(DateOf(assigned), 1)) + ")");
  sim.Post("/_sim/orders/plinth-9101/assign",
           {{"driver_external_id", "PLINTH_0042"}, {"timestamp", DateTimeToIso(assigned)}});
  sim.Post("/_sim/orders/plinth-9101/dispatch", {{"timestamp", DateTimeToIso(dispatched)}});
  sim.Post("/_sim/orders/plinth-9101/deliver", {{"timestamp", DateTimeToIso(delivered)}});

  TCourioEventTrackerRemoteChanges tracker;
  tracker.Initialise();
  tracker.ThreadTask();
  EXPECT_EQ(InvoiceRow(9101), Row("0042", assigned, 931, dispatched, delivered));
  EXPECT_EQ(Events().size(), 3u);
  EXPECT_EQ(JsonAsText(JsonGet(tracker.Settings().Value, "LastSince")), DateTimeToIso(delivered))
      << "the cloud's mark";

  // The next pass asks from that mark and finds nothing new to apply.
  now_ = IncSecond(now_, 11);
  tracker.ThreadTask();
  EXPECT_EQ(Events().size(), 3u);
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerRemoteChanges.ThreadTask] Checking for remote changes since : " +
                            DateTimeToIso(delivered)));
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerRemoteChanges.ThreadTask] Found 0 changes"));
  std::vector<std::string> queries;
  for (const auto& r : sim.Requests())
    if (JsonAsText(JsonGet(r, "path")) == "/api/delivery/changes/7") queries.push_back(JsonAsText(JsonGet(r, "query")));
  std::string mark = ReplaceAll(ReplaceAll(FormatDateTime("yyyy-mm-dd hh:nn:ss", delivered), " ", "+"), ":", "%3A");
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(queries[1], "since=" + mark);
  tracker.Finalise();
}

}  // namespace
}  // namespace courio
