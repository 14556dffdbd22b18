// The driver-events tracker: changes between two attendance lists become
// DriverEvents (1 clocked in, 2 left the store, 3 back at the store). The
// lists come from a scripted attendance component here, and from the
// embedded POS in the last tests.
#include "trackers/implCourioEventTrackerDriverEvents.hpp"

#include "support/FakeDBManager.hpp"
#include "trackers/TrackerOnPosSupport.hpp"

namespace courio {
namespace {

const char* const kTask = "[TCourioEventTrackerDriverEvents.ThreadTask] ";

// Hands out the list a test sets; can refuse to initialise.
struct TAttendScript {
  TJson current = TJson::array();
  std::string initialiseError;
};

class TScriptedAttend final : public IPlinthAttend {
 public:
  explicit TScriptedAttend(std::shared_ptr<TAttendScript> script) : script_(std::move(script)) {}
  void Initialise(IDBManagerPtr) override {
    if (!script_->initialiseError.empty()) throw std::invalid_argument(script_->initialiseError);
  }
  void FetchCurretAttendJSON(TJson& attend) override { attend = script_->current; }
  void FetchEmployeeAttendJSON(const std::string&, TJson&) override { throw std::logic_error("not used"); }
  bool FetchEmployeeJSON(const std::string&, TJson&) override { throw std::logic_error("not used"); }
  void ClockInEmployee(const std::string&, TDateTime, double, double) override { throw std::logic_error("not used"); }
  bool IsClockedOut(const TJson&) override { throw std::logic_error("not used"); }

 private:
  std::shared_ptr<TAttendScript> script_;
};

TJson Driver(const std::string& emp, TJson in, TJson onDelivery) {
  return {{"EmpNum", emp}, {"InDateTime", in}, {"OutDateTime", nullptr},
          {"ClockedOut", in.is_null() ? TJson() : TJson(false)}, {"OnDelivery", onDelivery}};
}

class DriverEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClockForTesting([this] { return now_.load(); });
    di_ = std::make_shared<TPlinthDI>();
    di_->AddNamedFactory(IDBManager::IID, "plinth", std::make_shared<TPlinthFnFactory>([] {
                           return std::static_pointer_cast<IInterface>(std::make_shared<test::TFakeDBManager>());
                         }));
    di_->AddFactory(IPlinthAttend::IID, std::make_shared<TPlinthFnFactory>([this] {
                      return std::static_pointer_cast<IInterface>(std::make_shared<TScriptedAttend>(script_));
                    }));
    store_ = std::make_shared<TCourioDataStore>(dir_.File("CourioSvc.db3"));
    di_->AddInstance<ICourioDataStore>(store_);
    SetPlinthDI(di_);
  }
  void TearDown() override {
    SetPlinthDI(nullptr);
    SetClockForTesting(nullptr);
  }
  void Advance(double seconds) { now_ = now_ + seconds / 86400; }
  std::unique_ptr<TCourioEventTrackerDriverEvents> MakeTracker(TJson first) {
    script_->current = std::move(first);
    auto t = std::make_unique<TCourioEventTrackerDriverEvents>();
    t->Initialise();
    return t;
  }
  // One pass after the gap over `list`.
  void Pass(TCourioEventTrackerDriverEvents& t, TJson list) {
    script_->current = std::move(list);
    Advance(11);
    t.ThreadTask();
  }
  std::vector<TSQLDriverEvent> Events() {
    std::vector<TSQLDriverEvent> out;
    for (long long last = 0;;) {
      TSQLDriverEvent e;
      if (!store_->GetORM().Retrieve("ID > ? ORDER BY ID", {last}, e)) return out;
      last = e.ID;
      out.push_back(e);
    }
  }
  std::vector<std::string> Summary() {  // "<emp>:<type>" per event
    std::vector<std::string> out;
    for (const auto& e : Events()) out.push_back(e.EmpNum + ":" + std::to_string(e.EventType));
    return out;
  }
  std::string LastTimestamp() {
    TSQLSettings row;
    store_->GetORM().Retrieve("Name = 'DriverEvents'", {}, row);
    return JsonAsText(JsonGet(row.Value, "LastTimestamp"));
  }

  test::TempDir dir_;
  test::LogCapture log_;
  std::atomic<TDateTime> now_{EncodeDateTime(2024, 5, 2, 14, 0, 0)};
  std::shared_ptr<TAttendScript> script_ = std::make_shared<TAttendScript>();
  std::shared_ptr<TPlinthDI> di_;
  std::shared_ptr<TCourioDataStore> store_;
};

TEST_F(DriverEventsTest, StateTable) {
  const TJson nine = "2024-05-02T09:00:00", ten = "2024-05-02T10:00:00";
  struct Case {
    const char* name;
    TJson previous, current;  // the driver before and now
    std::vector<int> types;   // events of the driver, in order
  };
  const Case cases[] = {
      {"no attendance now", Driver("0042", nine, true), Driver("0042", nullptr, nullptr), {}},
      {"clocked in", Driver("0042", nullptr, nullptr), Driver("0042", ten, false), {1}},
      {"clocked in and already out", Driver("0042", nullptr, nullptr), Driver("0042", ten, true), {1, 2}},
      {"left the store", Driver("0042", nine, false), Driver("0042", nine, true), {2}},
      {"back at the store", Driver("0042", nine, true), Driver("0042", nine, false), {3}},
      {"still out", Driver("0042", nine, true), Driver("0042", nine, true), {}},
      {"still in", Driver("0042", nine, false), Driver("0042", nine, false), {}},
      {"clocked in again the same day", Driver("0042", nine, false), Driver("0042", ten, false), {}},
      {"OnDelivery never set reads as in", Driver("0042", nullptr, nullptr), Driver("0042", ten, nullptr), {1}},
      {"OnDelivery cleared to null", Driver("0042", nine, true), Driver("0042", nine, nullptr), {3}},
      {"numbers differing in case are one driver", Driver("ab42", nine, false), Driver("AB42", nine, true), {2}},
      {"a driver new to the list", Driver("0043", nine, false), Driver("0042", ten, true), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store_->GetDatabase().Execute("DELETE FROM DriverEvent; DELETE FROM Settings");
    auto t = MakeTracker(TJson::array({c.previous}));
    Pass(*t, TJson::array({c.current}));
    auto events = Events();
    std::vector<int> types;
    for (const auto& e : events) {
      types.push_back(e.EventType);
      EXPECT_EQ(e.EmpNum, JsonAsText(c.current["EmpNum"]));
      EXPECT_EQ(e.EventData, JsonDump(c.current)) << "the driver as listed now";
      EXPECT_EQ(e.UploadStatus, 0);
      // A clock-in carries the attendance row's time, the others the pass's.
      EXPECT_EQ(DateTimeToIso(e.Timestamp),
                e.EventType == 1 ? JsonAsText(c.current["InDateTime"]) : DateTimeToIso(now_.load()));
    }
    EXPECT_EQ(types, c.types);
    if (!events.empty()) {
      EXPECT_EQ(LastTimestamp(), DateTimeToIso(events.back().Timestamp));
    }
    ASSERT_TRUE(t->Snapshot().has_value());
    EXPECT_EQ(*t->Snapshot(), TJson::array({c.current})) << "the current list is the next pass's snapshot";
  }
  EXPECT_FALSE(log_.Contains("Error"));
}

TEST_F(DriverEventsTest, OutInOutAcrossPassesAndSeveralDriversInListOrder) {
  const TJson nine = "2024-05-02T09:00:00";
  auto t = MakeTracker(TJson::array({Driver("0042", nine, false), Driver("0043", nullptr, nullptr)}));
  Pass(*t, TJson::array({Driver("0042", nine, true), Driver("0043", "2024-05-02T14:00:05", true)}));
  Pass(*t, TJson::array({Driver("0042", nine, false), Driver("0043", "2024-05-02T14:00:05", true)}));
  Pass(*t, TJson::array({Driver("0042", nine, true), Driver("0043", "2024-05-02T14:00:05", false)}));
  EXPECT_EQ(Summary(), (std::vector<std::string>{"0042:2", "0043:1", "0043:2", "0042:3", "0042:2", "0043:3"}));
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "Driver 0043 : Clocked In at 2024-05-02T14:00:05"));
}

TEST_F(DriverEventsTest, APassFailingHalfWayNeverRecordsAChangeTwice) {
  auto t = MakeTracker(TJson::array({Driver("0042", nullptr, nullptr), Driver("0043", nullptr, nullptr)}));
  // 0042 clocks in; 0043's attendance time cannot be read, which ends the pass.
  Pass(*t, TJson::array({Driver("0042", "2024-05-02T14:00:03", true), Driver("0043", "half past two", false)}));
  EXPECT_EQ(Summary(), (std::vector<std::string>{"0042:1", "0042:2"}));
  EXPECT_EQ(log_.Count(std::string(kTask) + "Error : "), 1u);
  EXPECT_TRUE(log_.Contains("half past two"));

  Pass(*t, TJson::array({Driver("0042", "2024-05-02T14:00:03", true), Driver("0043", "2024-05-02T14:00:04", false)}));
  EXPECT_EQ(Summary(), (std::vector<std::string>{"0042:1", "0042:2", "0043:1"})) << "0042 is not recorded again";
}

TEST_F(DriverEventsTest, WithoutAFirstSnapshotTheFirstPassTakesItAndRecordsNothing) {
  script_->initialiseError = "The business-day start 'soon' (SYSDATA CLASS 'GLOBAL', ITEM 'DAY START') is not a time of day";
  auto t = MakeTracker(TJson::array({Driver("0042", nullptr, nullptr)}));
  EXPECT_TRUE(log_.Contains("[TCourioEventTrackerDriverEvents.Initialise] Error : The business-day start 'soon'"));
  EXPECT_FALSE(t->Snapshot().has_value());

  Pass(*t, TJson::array({Driver("0042", nullptr, nullptr)}));
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "Error : The business-day start 'soon'")) << "each pass fails too";
  EXPECT_FALSE(t->Snapshot().has_value());

  script_->initialiseError.clear();
  Pass(*t, TJson::array({Driver("0042", "2024-05-02T09:00:00", true)}));
  EXPECT_TRUE(Events().empty()) << "a driver already out when the snapshot was taken";
  Pass(*t, TJson::array({Driver("0042", "2024-05-02T09:00:00", false)}));
  EXPECT_EQ(Summary(), (std::vector<std::string>{"0042:3"}));
}

TEST_F(DriverEventsTest, RunsOnItsWorkerThreadUntilStopped) {
  auto t = MakeTracker(TJson::array({Driver("0042", nullptr, nullptr)}));
  script_->current = TJson::array({Driver("0042", "2024-05-02T13:59:00", false)});  // before the worker starts
  t->Start();
  ASSERT_TRUE(test::WaitUntil([&] { return Events().size() == 1; }, std::chrono::seconds(5)));
  t->Stop();
  t->Finalise();
  EXPECT_EQ(Summary(), (std::vector<std::string>{"0042:1"})) << "one pass: the gap holds the worker back";
}

TEST_F(DriverEventsTest, RegistersItsNamedFactory) {
  RegisterDriverEventsTracker(*di_);
  ICourioEventTrackerPtr a;
  ASSERT_TRUE(di_->CreateNamedInstance("DriverEvents", a));
  EXPECT_TRUE(std::dynamic_pointer_cast<TCourioEventTrackerDriverEvents>(a));
  UnregisterDriverEventsTracker(*di_);
  EXPECT_FALSE(di_->HasNamedFactory(ICourioEventTracker::IID, "DriverEvents"));
}

// The real attendance component over ODBC; pos-sim stamps with the test clock.
class DriverEventsOnPosTest : public test::TrackerOnPosTest {};

TEST_F(DriverEventsOnPosTest, ClockInDepartureAndReturnFromThePos) {
  TCourioEventTrackerDriverEvents t;
  t.Initialise();
  ASSERT_TRUE(t.Snapshot().has_value());
  EXPECT_EQ(t.Snapshot()->size(), 3u) << "the shop's three active drivers";
  t.ThreadTask();  // the first pass compares the snapshot with itself

  possim::ClockIn(posPath_, "0043");
  const TDateTime clockedIn = now_.load();
  Advance(11);
  t.ThreadTask();
  possim::SetOnDelivery(posPath_, "0043", true);
  Advance(11);
  t.ThreadTask();
  const TDateTime left = now_.load();
  possim::SetOnDelivery(posPath_, "0043", false);
  Advance(11);
  t.ThreadTask();

  auto events = Events<TSQLDriverEvent>();
  ASSERT_EQ(events.size(), 3u);
  const int types[] = {1, 2, 3};
  const TDateTime times[] = {clockedIn, left, now_.load()};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].EmpNum, "0043");
    EXPECT_EQ(events[i].EventType, types[i]);
    EXPECT_EQ(DateTimeToIso(events[i].Timestamp), DateTimeToIso(times[i]));
    EXPECT_EQ(JsonAsBool(ParseJson(events[i].EventData)["OnDelivery"]), i == 1);
  }
  EXPECT_EQ(StoredSetting("DriverEvents", "LastTimestamp"), DateTimeToIso(now_.load()));
  EXPECT_FALSE(log_.Contains("Error"));

  possim::SetDayStart(posPath_, "about six");
  Advance(11);
  t.ThreadTask();
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "Error : The business-day start 'about six'"));
  EXPECT_EQ(StoredSetting("DriverEvents", "LastCheck"), DateTimeToIso(now_.load()));
}

}  // namespace
}  // namespace courio
