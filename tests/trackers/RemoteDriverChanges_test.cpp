// The remote driver-changes tracker: driver statuses from a local HTTP cloud
// written into the attendance of the embedded POS.
#include "trackers/implCourioEventTrackerRemoteDriverChanges.hpp"

#include <functional>

#include "common/util/StrUtils.hpp"
#include "trackers/RemoteChangesTestCloud.hpp"
#include "trackers/TrackerOnPosSupport.hpp"

namespace courio {
namespace {

const char* const kUser = "store7@courio.test";
const char* const kPassword = "pa:ss word";
const char* const kTask = "[TCourioEventTrackerRemoteDriverChanges.ThreadTask] ";

TJson Change(TJson externalId, TJson status, TJson time = "2024-05-02T13:50:00") {
  return {{"id", 3}, {"external_id", externalId}, {"current_status", status}, {"timestamp_status", time}};
}

std::string Answer(TJson changes, TJson since = "2024-05-02T13:59:30") {
  TJson a = {{"changes", std::move(changes)}};
  if (!since.is_null()) a["since"] = std::move(since);
  return JsonDump(a);
}

class RemoteDriverChangesTest : public test::TrackerOnPosTest {
 protected:
  void SetUp() override {
    TrackerOnPosTest::SetUp();
    SharedRow("WebService", {{"Url", cloud_.BaseURL()}});
    SharedRow("Account", {{"email_address", kUser}, {"password", kPassword}});
    Sql("DELETE FROM ATTEND");  // the shop's rows of yesterday
  }
  std::unique_ptr<TCourioEventTrackerRemoteDriverChanges> MakeTracker() {
    auto t = std::make_unique<TCourioEventTrackerRemoteDriverChanges>();
    t->Initialise();
    return t;
  }
  void AttendRow(const std::string& emp, const char* in, bool clockedOut, bool onDelivery) {
    Sql("INSERT INTO ATTEND (EmpNum, InDateTime, ClockedOut, OnDelivery) VALUES ('" + emp + "', '" + in + "', " +
        std::to_string(clockedOut) + ", " + std::to_string(onDelivery) + ")");
  }
  // The employee's attendance rows as "InDateTime clockedOut onDelivery".
  std::vector<std::string> Rows(const std::string& emp) {
    std::vector<std::string> out;
    for (const auto& r : PosRows("SELECT InDateTime, ClockedOut, OnDelivery FROM ATTEND WHERE EmpNum = " +
                                 QuotedStr(emp) + " ORDER BY InvoiceLink"))
      out.push_back(JsonAsText(r["InDateTime"]) + " " + JsonAsText(r["ClockedOut"]) + " " +
                    JsonAsText(r["OnDelivery"]));
    return out;
  }
  std::string Stored(const char* key) { return StoredSetting("RemoteDriverChanges", key); }

  test::TRemoteChangesTestCloud cloud_{R"(/api/driver/changes/(-?\d+))"};
};

TEST_F(RemoteDriverChangesTest, StatusesWriteTheAttendance) {
  using V = std::vector<std::string>;
  const char* nine = "2024-05-02 09:00:00";
  struct Case {
    const char* name;
    std::function<void()> setup;
    TJson change;
    const char* emp;
    V rows;          // the employee's attendance rows afterwards
    const char* log; // a line the pass writes, or nullptr for none
  };
  const Case cases[] = {
      {"0, not clocked in today: clocked in at the cloud's time", [] {}, Change("PLINTH_0042", 0), "0042",
       V{"2024-05-02T13:50:00 false false"}, nullptr},
      {"0, only yesterday's row: clocked in", [&] { AttendRow("0042", "2024-05-02 05:00:00", false, true); },
       Change("PLINTH_0042", 0), "0042", V{"2024-05-02T05:00:00 false true", "2024-05-02T13:50:00 false false"},
       nullptr},
      {"0, clocked in and on the road", [&] { AttendRow("0042", nine, false, true); }, Change("PLINTH_0042", 0),
       "0042", V{"2024-05-02T09:00:00 false false"}, "Setting Driver : 0042 to not OnDelivery"},
      {"0, clocked out", [&] { AttendRow("0042", nine, true, false); }, Change("PLINTH_0042", 0), "0042",
       V{"2024-05-02T09:00:00 true false", "2024-05-02T13:50:00 false false"}, nullptr},
      {"2, in the store", [&] { AttendRow("0042", nine, false, false); }, Change("PLINTH_0042", 2), "0042",
       V{"2024-05-02T09:00:00 false true"}, "Setting Driver : 0042 to OnDelivery"},
      {"2, already on the road", [&] { AttendRow("0042", nine, false, true); }, Change("PLINTH_0042", 2), "0042",
       V{"2024-05-02T09:00:00 false true"}, nullptr},
      {"2, not clocked in: not clocked in by it", [] {}, Change("PLINTH_0042", 2), "0042", V{}, nullptr},
      {"2, clocked out", [&] { AttendRow("0042", nine, true, false); }, Change("PLINTH_0042", 2), "0042",
       V{"2024-05-02T09:00:00 true true"}, "Setting Driver : 0042 to OnDelivery"},
      {"-1", [&] { AttendRow("0042", nine, false, true); }, Change("PLINTH_0042", -1), "0042",
       V{"2024-05-02T09:00:00 false true"}, nullptr},
      {"1", [] {}, Change("PLINTH_0042", 1), "0042", V{}, nullptr},
      {"null", [] {}, Change("PLINTH_0042", nullptr), "0042", V{}, nullptr},
      {"2 as text", [&] { AttendRow("0042", nine, false, false); }, Change("PLINTH_0042", "2"), "0042",
       V{"2024-05-02T09:00:00 false false"}, nullptr},
      {"lower-case prefix", [] {}, Change("plinth_0043", 0), "0043", V{"2024-05-02T13:50:00 false false"}, nullptr},
      {"prefix later in the text", [] {}, Change("X_PLINTH_0043", 0), "0043", V{}, nullptr},
      {"a driver of another system", [] {}, Change(77, 0), "77", V{}, nullptr},
      {"unknown employee", [] {}, Change("PLINTH_9999", 0), "9999", V{}, nullptr},
      {"a quote in the number", [&] { possim::AddEmployee(posPath_, {"O'Hara", "Kim", "O'Hara"}); },
       Change("PLINTH_O'Hara", 0), "O'Hara", V{"2024-05-02T13:50:00 false false"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sql("DELETE FROM ATTEND");
    store_->GetDatabase().Execute("DELETE FROM Settings WHERE Name = 'RemoteDriverChanges'");
    c.setup();
    cloud_.Answer(Answer(TJson::array({c.change})));
    const size_t before = log_.Messages().size();
    auto t = MakeTracker();
    t->ThreadTask();
    EXPECT_EQ(Rows(c.emp), c.rows);
    std::vector<std::string> settings;
    for (size_t i = before; i < log_.Messages().size(); ++i)
      if (log_.Messages()[i].find("Setting Driver") != std::string::npos) settings.push_back(log_.Messages()[i]);
    EXPECT_EQ(settings, c.log ? V{std::string(kTask) + c.log} : V{});
    EXPECT_EQ(Stored("LastSince"), "2024-05-02T13:59:30");
  }
  EXPECT_FALSE(log_.Contains(std::string(kTask) + "Error"));
  // A clock-in takes the employee's rates and starts at zero.
  Sql("DELETE FROM ATTEND");
  store_->GetDatabase().Execute("DELETE FROM Settings WHERE Name = 'RemoteDriverChanges'");
  cloud_.Answer(Answer(TJson::array({Change("PLINTH_0042", 0)})));
  MakeTracker()->ThreadTask();
  EXPECT_EQ(JsonDump(PosRows("SELECT HourlyRate, KmRate, OdoStart, Float FROM ATTEND")),
            R"([{"HourlyRate":25.5,"KmRate":0.85,"OdoStart":0,"Float":0}])");
}

TEST_F(RemoteDriverChangesTest, FirstRunAsksSinceMidnightAndChangesApplyInOrder) {
  AttendRow("0042", "2024-05-02 09:00:00", false, false);
  cloud_.Answer(Answer(TJson::array({Change("PLINTH_0042", 2), Change("PLINTH_0042", 0), Change("PLINTH_0044", 0)}),
                       "2024-05-02T13:59:30.500+00:00"));
  auto t = MakeTracker();
  EXPECT_EQ(t->Url(), cloud_.BaseURL());
  EXPECT_EQ(t->Email(), kUser);
  EXPECT_EQ(t->StoreId(), 7);
  EXPECT_EQ(Stored("LastSince"), "2024-05-02T00:00:00");
  t->ThreadTask();

  auto requests = cloud_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/api/driver/changes/7");
  EXPECT_EQ(requests[0].since, "2024-05-02 00:00:00");
  EXPECT_EQ(requests[0].authorization, "Basic " + Base64Encode(std::string(kUser) + ":" + kPassword));
  EXPECT_EQ(Rows("0042"), (std::vector<std::string>{"2024-05-02T09:00:00 false false"})) << "on the road, then back";
  EXPECT_EQ(Rows("0044"), (std::vector<std::string>{"2024-05-02T13:50:00 false false"}));
  std::vector<std::string> task;
  for (const auto& m : log_.Messages())
    if (m.rfind(kTask, 0) == 0) task.push_back(m.substr(std::string(kTask).size()));
  EXPECT_EQ(task, (std::vector<std::string>{"Checking for remote changes since : 2024-05-02T00:00:00",
                                            "Found 3 changes", "Setting Driver : 0042 to OnDelivery",
                                            "Setting Driver : 0042 to not OnDelivery"}));
  EXPECT_TRUE(log_.Contains("[TPlinthAttend.ClockInEmployee] Fetch Employee : True"));
  EXPECT_EQ(Stored("LastSince"), DateTimeToIso(IsoToDateTime("2024-05-02T13:59:30.500+00:00")))
      << "the cloud's mark, read by the shared parser";
  EXPECT_EQ(Stored("LastCheck"), "2024-05-02T14:00:00");

  // The next pass waits for the gap and asks from the new mark.
  Advance(10.5);
  t->ThreadTask();
  EXPECT_EQ(cloud_.Requests().size(), 1u);
  Advance(0.6);
  t->ThreadTask();
  ASSERT_EQ(cloud_.Requests().size(), 2u);
  EXPECT_EQ(cloud_.Requests()[1].since, FormatDateTime("yyyy-mm-dd hh:nn:ss", IsoToDateTime(Stored("LastSince"))));
}

TEST_F(RemoteDriverChangesTest, Bookkeeping) {
  struct Case {
    const char* name;
    std::string body;
    int status;
    bool lastCheckMoves;
    bool lastSinceMoves;
    bool applied;       // the 0044 clock-in of the answer was made
    const char* error;  // the start of the logged error, or nullptr
  };
  const std::string good = Answer(TJson::array({Change("PLINTH_0044", 0)}));
  const Case cases[] = {
      {"all handled", good, 200, true, true, true, nullptr},
      {"no since", Answer(TJson::array({Change("PLINTH_0044", 0)}), nullptr), 200, true, false, true, nullptr},
      {"not JSON", "<html>502 Bad Gateway</html>", 200, true, false, false, nullptr},
      {"no changes array", R"({"error":"store unknown","since":"2024-05-02T13:00:00"})", 200, true, false, false,
       "The answer has no \"changes\" array"},
      {"a change not an object", Answer(TJson::array({Change("PLINTH_0044", 0), 5})), 200, true, false, false,
       "Change 1 of the answer is not an object"},
      {"a clock-in time not a time", Answer(TJson::array({Change("PLINTH_0044", 0), Change("PLINTH_0042", 0, "soon")})),
       200, true, false, false, "Change 1 of the answer: \"timestamp_status\" is not a date-time"},
      {"since not a time", Answer(TJson::array({Change("PLINTH_0044", 0)}), "later"), 200, true, false, false,
       "The answer: \"since\" is not a date-time"},
      {"an error status", good, 500, true, false, false, "The cloud answered with status 500"},
      {"no answer", "", 200, false, false, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sql("DELETE FROM ATTEND");
    store_->GetDatabase().Execute("DELETE FROM Settings WHERE Name = 'RemoteDriverChanges'");
    cloud_.Answer(c.body, c.status);
    auto t = MakeTracker();
    const size_t errors = log_.Count(std::string(kTask) + "Error : ");
    t->ThreadTask();
    EXPECT_EQ(Stored("LastCheck"), c.lastCheckMoves ? "2024-05-02T14:00:00" : "2024-05-01T14:00:00");
    EXPECT_EQ(Stored("LastSince"), c.lastSinceMoves ? "2024-05-02T13:59:30" : "2024-05-02T00:00:00");
    EXPECT_EQ(Rows("0044").size(), c.applied ? 1u : 0u);
    EXPECT_EQ(log_.Count(std::string(kTask) + "Error : "), errors + (c.error ? 1 : 0));
    if (c.error) {
      EXPECT_TRUE(log_.Contains(std::string(kTask) + "Error : " + c.error));
    }
  }
  EXPECT_EQ(log_.Count(std::string(kTask) + "The answer has no \"since\" : LastSince stays 2024-05-02T00:00:00"), 1u);
}

TEST_F(RemoteDriverChangesTest, AnUnreadableDayStartEndsThePassBeforeTheCloudIsAsked) {
  possim::SetDayStart(posPath_, "dawn");
  cloud_.Answer(Answer(TJson::array({Change("PLINTH_0044", 0)})));
  auto t = MakeTracker();
  t->ThreadTask();
  EXPECT_TRUE(cloud_.Requests().empty());
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "Error : The business-day start 'dawn'"));
  EXPECT_EQ(Stored("LastCheck"), "2024-05-01T14:00:00") << "nothing was fetched";

  // Retried with a growing back-off, not at every run of the task.
  possim::SetDayStart(posPath_, "06:00");
  Advance(0.05);
  t->ThreadTask();
  EXPECT_TRUE(cloud_.Requests().empty());
  Advance(0.06);
  t->ThreadTask();
  EXPECT_EQ(cloud_.Requests().size(), 1u);
  EXPECT_EQ(Rows("0044").size(), 1u);
}

TEST_F(RemoteDriverChangesTest, RegistersItsNamedFactory) {
  RegisterRemoteDriverChangesTracker(*di_);
  ICourioEventTrackerPtr a;
  ASSERT_TRUE(di_->CreateNamedInstance("RemoteDriverChanges", a));
  EXPECT_TRUE(std::dynamic_pointer_cast<TCourioEventTrackerRemoteDriverChanges>(a));
  UnregisterRemoteDriverChangesTracker(*di_);
  EXPECT_FALSE(di_->HasNamedFactory(ICourioEventTracker::IID, "RemoteDriverChanges"));
}

}  // namespace
}  // namespace courio
