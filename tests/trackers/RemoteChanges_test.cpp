#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "cloud/intfCourioAPI.hpp"
#include "common/util/StrUtils.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/di/implDI.hpp"
#include "common/rest/intfRestClient.hpp"
#include "store/clsCourioData.hpp"
#include "support/FakeDBManager.hpp"
#include "support/TestSupport.hpp"
#include "support/StoreSupport.hpp"
#include "trackers/RemoteChangesTestCloud.hpp"
#include "trackers/implCourioEventTrackerRemoteChanges.hpp"

namespace courio {
namespace {

const char* const kUser = "store7@courio.test";
const char* const kPassword = "pa:ss word";
const char* const kTask = "[TCourioEventTrackerRemoteChanges.ThreadTask] ";

// A fake POS whose statements can be made to fail.
class TFailingDB final : public test::TFakeDBManager {
 public:
  std::function<bool(const std::string&)> fails;
  bool Execute(const std::string& sql) override {
    TFakeDBManager::Execute(sql);
    if (fails && fails(sql)) throw std::runtime_error("[SQLite]no such column: Bogus (1)");
    return true;
  }
};

TJson Delivery(TJson externalId, TJson driver, TJson assigned, TJson dispatched, TJson delivered) {
  TJson d = TJson::object();
  d["id"] = 31;
  d["external_id"] = std::move(externalId);
  d["driver_external_id"] = std::move(driver);
  d["timestamp_assigned"] = std::move(assigned);
  d["timestamp_dispatched"] = std::move(dispatched);
  d["timestamp_delivered"] = std::move(delivered);
  return d;
}

std::string Answer(TJson deliveries, TJson since = "2024-03-05T13:59:30") {
  TJson a = TJson::object();
  a["deliveries"] = std::move(deliveries);
  if (!since.is_null()) a["since"] = std::move(since);
  return JsonDump(a);
}

std::string AssignSql(const std::string& driver, const std::string& when, long long invoice) {
  return "UPDATE INVOICES SET Driver = '" + driver + "', TimeToDrvr = '" + when +
         "' WHERE InvoiceNum = " + std::to_string(invoice);
}
std::string DriverLinkSql(const std::string& driver, const std::string& when, long long invoice) {
  return "UPDATE INVOICES SET DriverLink = MAX_ATTEND.DriverLink FROM ( SELECT MAX( ATTEND.InvoiceLink ) AS "
         "DriverLink FROM ATTEND WHERE EMPNUM = '" +
         driver + "' AND InDateTime > CAST( '" + when.substr(0, 10) +
         "' AS DATETIME ) AND ISNULL( OutDateTime, DATEADD( MINUTE, 10, GETDATE() ) ) >= '" + when +
         "' ) MAX_ATTEND WHERE INVOICENUM = " + std::to_string(invoice);
}
std::string DispatchSql(const std::string& when, long long invoice) {
  return "UPDATE INVOICES Set TimeStampDriver = '" + when + "' WHERE InvoiceNum = " + std::to_string(invoice);
}
std::string DeliverySql(const std::string& when, long long invoice) {
  return "UPDATE INVOICES Set TIMEATCUST = '" + when + "' WHERE InvoiceNum = " + std::to_string(invoice);
}

class RemoteChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClockForTesting([this] { return now_.load(); });
    di_ = std::make_shared<TPlinthDI>();
    di_->AddNamedFactory(IDBManager::IID, "plinth", std::make_shared<TPlinthFnFactory>([this] {
      auto db = std::make_shared<TFailingDB>();
      db->fails = fails_;
      lastDb_ = db;
      return std::static_pointer_cast<IInterface>(db);
    }));
    RegisterRestClient(*di_);
    RegisterCourioAPI(*di_);
    store_ = std::make_shared<TCourioDataStore>(dir_.File("CourioSvc.db3"));
    di_->AddInstance<ICourioDataStore>(store_);
    SetPlinthDI(di_);
    SharedRow("WebService", {{"Url", cloud_.BaseURL()}});
    SharedRow("Account", {{"email_address", kUser}, {"password", kPassword}});
    SharedRow("Store", {{"id", 7}});
  }
  void TearDown() override {
    SetPlinthDI(nullptr);
    SetClockForTesting(nullptr);
  }

  void SharedRow(const std::string& name, TJson value) { test::AddSettingsRow(*store_, name, std::move(value)); }
  void Advance(double seconds) { now_ = now_ + seconds / 86400; }
  std::unique_ptr<TCourioEventTrackerRemoteChanges> MakeTracker() {
    auto t = std::make_unique<TCourioEventTrackerRemoteChanges>();
    t->Initialise();
    return t;
  }
  // The tracker's row as stored.
  TJson StoredValue() {
    TSQLSettings row;
    if (!store_->GetORM().Retrieve("Name = 'RemoteChanges'", {}, row)) return nullptr;
    return row.Value;
  }
  std::string Stored(const char* key) { return JsonAsText(JsonGet(StoredValue(), key)); }
  std::vector<TSQLRemoteEvent> Events() {
    std::vector<TSQLRemoteEvent> out;
    for (long long last = 0;;) {
      TSQLRemoteEvent e;
      if (!store_->GetORM().Retrieve("ID > ? ORDER BY ID", {last}, e)) return out;
      last = e.ID;
      out.push_back(e);
    }
  }
  std::vector<std::string> Statements() { return lastDb_ ? lastDb_->Statements() : std::vector<std::string>{}; }
  // Tracker messages of the pass (the cloud client's lines left out).
  std::vector<std::string> TaskMessages() {
    std::vector<std::string> out;
    for (const auto& m : log_.Messages())
      if (m.rfind(kTask, 0) == 0) out.push_back(m.substr(std::string(kTask).size()));
    return out;
  }

  test::TempDir dir_;
  test::LogCapture log_;
  test::TRemoteChangesTestCloud cloud_;
  std::atomic<TDateTime> now_{EncodeDateTime(2024, 3, 5, 14, 0, 0)};
  std::shared_ptr<TPlinthDI> di_;
  std::shared_ptr<TCourioDataStore> store_;
  std::shared_ptr<TFailingDB> lastDb_;
  std::function<bool(const std::string&)> fails_;
};

TEST_F(RemoteChangesTest, FirstRunReadsTheSharedRowsCreatesItsRowAndAsksSinceMidnight) {
  auto t = MakeTracker();
  EXPECT_EQ(t->Url(), cloud_.BaseURL());
  EXPECT_EQ(t->Email(), kUser);
  EXPECT_EQ(t->StoreId(), 7);
  EXPECT_EQ(JsonDump(StoredValue()), R"({"LastCheck":"2024-03-04T14:00:00","LastSince":"2024-03-05T00:00:00"})");

  t->ThreadTask();
  auto requests = cloud_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/api/delivery/changes/7");
  EXPECT_EQ(requests[0].since, "2024-03-05 00:00:00");
  EXPECT_EQ(requests[0].authorization, "Basic " + Base64Encode(std::string(kUser) + ":" + kPassword));
  EXPECT_EQ(requests[0].contentType, "") << "only the base URL and the credentials are set";
}

TEST_F(RemoteChangesTest, MissingSharedRowsLeaveEmptyValuesAndAStoreIdOfZero) {
  store_->GetDatabase().Execute("DELETE FROM Settings");
  SharedRow("store", {{"id", "12"}});  // the name matches in any case; a numeric text is a number
  auto t = MakeTracker();
  EXPECT_EQ(t->Url(), "");
  EXPECT_EQ(t->Email(), "");
  EXPECT_EQ(t->StoreId(), 12);
  store_->GetDatabase().Execute("DELETE FROM Settings");
  SharedRow("Store", {{"id", "twelve"}});
  auto u = MakeTracker();
  EXPECT_EQ(u->StoreId(), 0);
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerRemoteChanges.LoadSettings] The store id is not a number : \"twelve\""));
}

TEST_F(RemoteChangesTest, AChangeLaterThanSinceAppliesAllThreeTransitionsInOrder) {
  TJson d = Delivery("plinth-1001", "PLINTH_42", "2024-03-05T12:00:00", "2024-03-05T12:10:00",
                     "2024-03-05T12:30:05");
  cloud_.Answer(Answer(TJson::array({d}), "2024-03-05T13:59:30.250Z"));
  auto t = MakeTracker();
  Advance(0.5);
  t->ThreadTask();

  EXPECT_EQ(Statements(), (std::vector<std::string>{AssignSql("42", "2024-03-05 12:00:00", 1001),
                                                    DriverLinkSql("42", "2024-03-05 12:00:00", 1001),
                                                    DispatchSql("2024-03-05 12:10:00", 1001),
                                                    DeliverySql("2024-03-05 12:30:05", 1001)}));
  auto events = Events();
  ASSERT_EQ(events.size(), 3u);
  const TDateTime times[] = {EncodeDateTime(2024, 3, 5, 12, 0, 0), EncodeDateTime(2024, 3, 5, 12, 10, 0),
                             EncodeDateTime(2024, 3, 5, 12, 30, 5)};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].EventType, i + 1);
    EXPECT_EQ(events[i].InvoiceNum, 1001);
    EXPECT_EQ(DateTimeToIso(events[i].Timestamp), DateTimeToIso(times[i]));
    EXPECT_EQ(events[i].EventData, JsonDump(d));
    EXPECT_EQ(events[i].AppliedStatus, 1);
    EXPECT_EQ(DateTimeToIso(events[i].AppliedTimestamp), "2024-03-05T14:00:00");
  }
  EXPECT_EQ(TaskMessages(), (std::vector<std::string>{"Checking for remote changes since : 2024-03-05T00:00:00",
                                                      "Found 1 changes", "Assigned : 2024-03-05 12:00:00",
                                                      "Driver   : 42", "Dispatched : 2024-03-05 12:10:00",
                                                      "Delivered  : 2024-03-05 12:30:05"}));
  EXPECT_EQ(Stored("LastSince"), "2024-03-05T13:59:30") << "the cloud's mark, normalised";
  EXPECT_EQ(Stored("LastCheck"), "2024-03-05T14:00:00");
}

TEST_F(RemoteChangesTest, ExternalIdsDriversAndTheSinceBoundary) {
  // Since is the first run's mark, 2024-03-05T00:00:00.
  const std::string at = "2024-03-05T09:15:00", atSql = "2024-03-05 09:15:00";
  struct Case {
    const char* name;
    TJson delivery;
    std::vector<std::string> statements;
    std::vector<int> eventTypes;
  };
  const Case cases[] = {
      {"prefix in capitals", Delivery("PLINTH-123", "PLINTH_7", at, nullptr, nullptr),
       {AssignSql("7", atSql, 123), DriverLinkSql("7", atSql, 123)}, {1}},
      {"bare number", Delivery("123", nullptr, nullptr, at, nullptr), {DispatchSql(atSql, 123)}, {2}},
      {"number, not text", Delivery(456, nullptr, nullptr, nullptr, at), {DeliverySql(atSql, 456)}, {3}},
      {"null external id", Delivery(nullptr, "PLINTH_7", at, at, at), {}, {}},
      {"prefix alone", Delivery("plinth-", "PLINTH_7", at, at, at), {}, {}},
      {"null driver", Delivery("plinth-5", nullptr, at, nullptr, nullptr),
       {AssignSql("", atSql, 5), DriverLinkSql("", atSql, 5)}, {1}},
      {"blanks around the driver", Delivery("plinth-5", " PLINTH_42 ", at, nullptr, nullptr),
       {AssignSql("42", atSql, 5), DriverLinkSql("42", atSql, 5)}, {1}},
      {"quote in the driver", Delivery("plinth-5", "plinth_O'Hara", at, nullptr, nullptr),
       {AssignSql("O''Hara", atSql, 5), DriverLinkSql("O''Hara", atSql, 5)}, {1}},
      {"times equal to since are not applied",
       Delivery("plinth-9", "PLINTH_1", "2024-03-05T00:00:00", "2024-03-05 00:00:00.000", "2024-03-05T00:00:01"),
       {DeliverySql("2024-03-05 00:00:01", 9)}, {3}},
      {"times before since", Delivery("plinth-9", "PLINTH_1", "2024-03-04T23:59:59", nullptr, nullptr), {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store_->GetDatabase().Execute("DELETE FROM RemoteEvent; DELETE FROM Settings WHERE Name = 'RemoteChanges'");
    cloud_.Answer(Answer(TJson::array({c.delivery})));
    auto t = MakeTracker();
    t->ThreadTask();
    EXPECT_EQ(Statements(), c.statements);
    std::vector<int> types;
    for (const auto& e : Events()) {
      types.push_back(e.EventType);
      EXPECT_EQ(e.AppliedStatus, 1);
    }
    EXPECT_EQ(types, c.eventTypes);
    EXPECT_EQ(Stored("LastSince"), "2024-03-05T13:59:30");
  }
  EXPECT_FALSE(log_.Contains("Error")) << "skipped changes are skipped without a message";
}

TEST_F(RemoteChangesTest, AnInvoiceNumberThatIsNotANumberIsRecordedAsNotApplied) {
  cloud_.Answer(Answer(TJson::array({Delivery("plinth-12a", "PLINTH_42", "2024-03-05T10:00:00", nullptr,
                                              "2024-03-05T11:00:00"),
                                     Delivery("plinth-77", "PLINTH_42", nullptr, "2024-03-05T10:30:00", nullptr)})));
  auto t = MakeTracker();
  t->ThreadTask();
  EXPECT_EQ(Statements(), (std::vector<std::string>{DispatchSql("2024-03-05 10:30:00", 77)}));
  auto events = Events();
  ASSERT_EQ(events.size(), 3u);
  for (int i : {0, 1}) {
    EXPECT_EQ(events[i].InvoiceNum, -1);
    EXPECT_EQ(events[i].AppliedStatus, 0);
    EXPECT_EQ(events[i].AppliedTimestamp, 0);
  }
  EXPECT_EQ(events[0].EventType, 1);
  EXPECT_EQ(events[1].EventType, 3);
  EXPECT_EQ(events[2].InvoiceNum, 77);
  EXPECT_EQ(events[2].AppliedStatus, 1);
  EXPECT_EQ(log_.Count(std::string(kTask) + "Error : The invoice number '12a' is not valid"), 2u);
  EXPECT_EQ(Stored("LastSince"), "2024-03-05T13:59:30");
}

TEST_F(RemoteChangesTest, AFailingStatementLeavesItsEventUnappliedAndThePassGoesOn) {
  fails_ = [](const std::string& sql) {
    return sql.find("DriverLink =") != std::string::npos || sql.find("TimeStampDriver") != std::string::npos;
  };
  cloud_.Answer(Answer(TJson::array(
      {Delivery("plinth-1001", "PLINTH_42", "2024-03-05T12:00:00", "2024-03-05T12:10:00", "2024-03-05T12:30:00"),
       Delivery("plinth-1002", "PLINTH_43", nullptr, nullptr, "2024-03-05T12:40:00")})));
  auto t = MakeTracker();
  t->ThreadTask();

  auto statements = Statements();
  ASSERT_EQ(statements.size(), 5u) << "every statement is tried";
  EXPECT_EQ(statements[0], AssignSql("42", "2024-03-05 12:00:00", 1001)) << "the first assignment statement stays";
  EXPECT_EQ(statements[4], DeliverySql("2024-03-05 12:40:00", 1002));
  auto events = Events();
  ASSERT_EQ(events.size(), 4u);
  const int applied[] = {0, 0, 1, 1};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].AppliedStatus, applied[i]);
    EXPECT_EQ(events[i].AppliedTimestamp == 0, applied[i] == 0);
  }
  EXPECT_EQ(log_.Count(std::string(kTask) + "Error : [SQLite]no such column: Bogus (1)"), 2u);
  EXPECT_EQ(Stored("LastSince"), "2024-03-05T13:59:30") << "statement errors do not stop the pass";
  EXPECT_EQ(Stored("LastCheck"), "2024-03-05T14:00:00");
}

TEST_F(RemoteChangesTest, AnEmptyDeliveriesArrayStillAdvancesBothMarks) {
  cloud_.Answer(R"({"since":"2024-03-05T13:45:00","deliveries":[]})");
  auto t = MakeTracker();
  t->ThreadTask();
  EXPECT_EQ(TaskMessages(), (std::vector<std::string>{"Checking for remote changes since : 2024-03-05T00:00:00",
                                                      "Found 0 changes"}));
  EXPECT_EQ(Stored("LastSince"), "2024-03-05T13:45:00");
  EXPECT_EQ(Stored("LastCheck"), "2024-03-05T14:00:00");
  EXPECT_TRUE(Statements().empty());
  EXPECT_TRUE(Events().empty());
}

TEST_F(RemoteChangesTest, AnAnswerWithoutSinceIsAppliedButLeavesLastSince) {
  for (TJson since : {TJson(nullptr), TJson("")}) {
    SCOPED_TRACE(JsonDump(since));
    store_->GetDatabase().Execute("DELETE FROM RemoteEvent; DELETE FROM Settings WHERE Name = 'RemoteChanges'");
    TJson answer = {{"deliveries", TJson::array({Delivery("plinth-8", nullptr, nullptr, "2024-03-05T10:00:00",
                                                          nullptr)})}};
    if (!since.is_null()) answer["since"] = since;
    cloud_.Answer(JsonDump(answer));
    auto t = MakeTracker();
    t->ThreadTask();
    EXPECT_EQ(Statements(), (std::vector<std::string>{DispatchSql("2024-03-05 10:00:00", 8)}));
    EXPECT_EQ(Stored("LastSince"), "2024-03-05T00:00:00");
    EXPECT_EQ(Stored("LastCheck"), "2024-03-05T14:00:00");
  }
  EXPECT_EQ(log_.Count(std::string(kTask) + "The answer has no \"since\" : LastSince stays 2024-03-05T00:00:00"), 2u);
}

TEST_F(RemoteChangesTest, AHostileAnswerChangesNeitherThePosNorLastSince) {
  const TJson good = Delivery("plinth-1", "PLINTH_2", "2024-03-05T10:00:00", nullptr, nullptr);
  struct Case {
    const char* name;
    std::string body;
    int status;
    const char* error;  // the start of the logged message
  };
  const Case cases[] = {
      {"not JSON", "<html>502 Bad Gateway</html>", 200, "The answer is not JSON"},
      {"an array", "[]", 200, "The answer has no \"deliveries\" array"},
      {"no deliveries", R"({"since":"2024-03-05T13:00:00"})", 200, "The answer has no \"deliveries\" array"},
      {"deliveries not an array", R"({"deliveries":{"a":1},"since":"2024-03-05T13:00:00"})", 200,
       "The answer has no \"deliveries\" array"},
      {"element not an object", Answer(TJson::array({good, 5})), 200, "Delivery 1 of the answer is not an object"},
      {"time not a time", Answer(TJson::array({good, Delivery("plinth-3", nullptr, "yesterday", nullptr, nullptr)})),
       200, "Delivery 1 of the answer: \"timestamp_assigned\" is not a date-time"},
      {"time a number", Answer(TJson::array({good, Delivery("plinth-3", nullptr, nullptr, nullptr, 45356.5)})), 200,
       "Delivery 1 of the answer: \"timestamp_delivered\" is not a date-time"},
      {"external id an object", Answer(TJson::array({good, Delivery(TJson::object(), nullptr, nullptr, nullptr,
                                                                    nullptr)})),
       200, "Delivery 1 of the answer: \"external_id\" is not an identifier"},
      {"driver an array", Answer(TJson::array({good, Delivery("plinth-3", TJson::array(), nullptr, nullptr,
                                                              nullptr)})),
       200, "Delivery 1 of the answer: \"driver_external_id\" is not an identifier"},
      {"since not a time", Answer(TJson::array({good}), "soon"), 200, "The answer: \"since\" is not a date-time"},
      {"since a number", Answer(TJson::array({good}), 45356), 200, "The answer: \"since\" is not a date-time"},
      {"deep nesting", std::string(100000, '[') + std::string(100000, ']'), 200, "The answer is not JSON"},
      {"server error", R"({"deliveries":[],"since":"2024-03-05T13:00:00"})", 500,
       "The cloud answered with status 500"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store_->GetDatabase().Execute("DELETE FROM Settings WHERE Name = 'RemoteChanges'");
    cloud_.Answer(c.body, c.status);
    auto t = MakeTracker();
    size_t errorsBefore = log_.Count(std::string(kTask) + "Error : " + c.error);
    t->ThreadTask();
    EXPECT_TRUE(Statements().empty());
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Stored("LastSince"), "2024-03-05T00:00:00");
    EXPECT_EQ(Stored("LastCheck"), "2024-03-05T14:00:00") << "the answer was fetched";
    EXPECT_EQ(log_.Count(std::string(kTask) + "Error : " + c.error), errorsBefore + 1);
  }
  EXPECT_FALSE(log_.Contains(kTask + std::string("Found"))) << "nothing is counted before the answer is checked";
}

TEST_F(RemoteChangesTest, AFailedCallWritesNothingAndIsRetriedWithABackOff) {
  cloud_.Answer("", 200);  // an answer without text counts as no answer
  auto t = MakeTracker();
  const std::string before = JsonDump(StoredValue());
  t->ThreadTask();
  EXPECT_EQ(cloud_.Requests().size(), 1u);
  EXPECT_EQ(JsonDump(StoredValue()), before) << "neither LastCheck nor LastSince";
  EXPECT_EQ(JsonDump(t->Settings().Value), before);

  t->ThreadTask();
  Advance(0.05);
  t->ThreadTask();
  EXPECT_EQ(cloud_.Requests().size(), 1u) << "not on every run of the task";
  Advance(0.06);
  t->ThreadTask();
  EXPECT_EQ(cloud_.Requests().size(), 2u) << "retried after 100 ms";
  Advance(0.15);
  t->ThreadTask();
  EXPECT_EQ(cloud_.Requests().size(), 2u) << "then after 200 ms";

  // Once the cloud answers, the pass goes through.
  cloud_.Answer(R"({"deliveries":[],"since":"2024-03-05T13:50:00"})");
  Advance(0.1);
  t->ThreadTask();
  EXPECT_EQ(cloud_.Requests().size(), 3u);
  EXPECT_EQ(Stored("LastSince"), "2024-03-05T13:50:00");
  EXPECT_FALSE(log_.Contains("Error"));
}

TEST_F(RemoteChangesTest, AnUnreachableCloudIsLoggedByTheClientOnly) {
  store_->GetDatabase().Execute("DELETE FROM Settings WHERE Name = 'WebService'");
  SharedRow("WebService", {{"Url", "http://127.0.0.1:" + std::to_string(test::FreePort())}});
  auto t = MakeTracker();
  const std::string before = JsonDump(StoredValue());
  t->ThreadTask();
  EXPECT_EQ(JsonDump(StoredValue()), before);
  EXPECT_TRUE(log_.Contains("[TCourioAPI.Delivery_Changes] Error : "));
  EXPECT_FALSE(log_.Contains(std::string(kTask) + "Error"));
}

TEST_F(RemoteChangesTest, TheNextPassWaitsForTheGapAndAsksFromTheNewMark) {
  cloud_.Answer(R"({"deliveries":[],"since":"2024-03-05T13:59:58"})");
  auto t = MakeTracker();
  t->ThreadTask();
  Advance(10.5);
  t->ThreadTask();
  EXPECT_EQ(cloud_.Requests().size(), 1u) << "10 whole seconds are not enough";
  Advance(0.5);
  t->ThreadTask();
  auto requests = cloud_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].since, "2024-03-05 13:59:58");
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "Checking for remote changes since : 2024-03-05T13:59:58"));
}

TEST_F(RemoteChangesTest, RegistersItsNamedFactory) {
  RegisterRemoteChangesTracker(*di_);
  std::vector<std::string> names;
  di_->GetFactoryNames(ICourioEventTracker::IID, names);
  EXPECT_EQ(names, (std::vector<std::string>{"RemoteChanges"}));
  ICourioEventTrackerPtr a, b;
  ASSERT_TRUE(di_->CreateNamedInstance("RemoteChanges", a));
  ASSERT_TRUE(di_->CreateNamedInstance("RemoteChanges", b));
  EXPECT_NE(a, b) << "a fresh tracker for every request";
  EXPECT_TRUE(std::dynamic_pointer_cast<TCourioEventTrackerRemoteChanges>(a));
  UnregisterRemoteChangesTracker(*di_);
  EXPECT_FALSE(di_->HasNamedFactory(ICourioEventTracker::IID, "RemoteChanges"));
}

TEST_F(RemoteChangesTest, RunsOnItsWorkerThreadUntilStopped) {
  TJson d = Delivery("plinth-1001", "PLINTH_42", "2024-03-05T12:00:00", nullptr, nullptr);
  cloud_.Answer(Answer(TJson::array({d})));
  auto t = MakeTracker();
  t->Start();
  ASSERT_TRUE(test::WaitUntil([&] { return Stored("LastSince") == "2024-03-05T13:59:30"; },
                              std::chrono::seconds(5)));
  t->Stop();
  t->Finalise();
  EXPECT_EQ(Events().size(), 1u) << "one pass: the gap holds the worker back";
}

}  // namespace
}  // namespace courio
