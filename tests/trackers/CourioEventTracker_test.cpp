#include "trackers/CourioEventTracker.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "common/di/clsDIFactory.hpp"
#include "common/di/implDI.hpp"
#include "store/clsCourioData.hpp"
#include "support/FakeDBManager.hpp"
#include "support/TestSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

class TTestTracker final : public TCourioEventTracker {
 public:
  explicit TTestTracker(TTrackerTraits traits) : TCourioEventTracker(std::move(traits)) {}
  ~TTestTracker() override { thread_.StopAndWait(); }
  std::function<bool()> detect = [] { return true; };
  std::atomic<int> passes{0};

 protected:
  TJson NewRowValue(TDateTime now) override {
    return {{"LastCheck", DateTimeToIso(now - 1)}, {"LastTimestamp", DateTimeToIso(DateOf(now))}};
  }
  bool Detect() override {
    ++passes;
    return detect();
  }
};

TTrackerTraits Traits(int gap = 10, bool lastCheckAfterFailure = true) {
  return {"DriverAssigned", "TTestTracker", "NAME='DriverAssigned'", gap, lastCheckAfterFailure};
}

class TrackerFrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClockForTesting([this] { return now_.load(); });
    di_ = std::make_shared<TPlinthDI>();
    di_->AddNamedFactory(IDBManager::IID, "plinth", std::make_shared<TPlinthFnFactory>([this] {
      auto db = std::make_shared<test::TFakeDBManager>();
      lastDb_ = db;
      return std::static_pointer_cast<IInterface>(db);
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
  std::string LastCheck(const TCourioEventTracker& t) { return JsonAsText(JsonGet(t.Settings().Value, "LastCheck")); }
  void SetLastCheck(TCourioEventTracker& t, TDateTime when) {
    TSQLSettings row = t.Settings();
    row.Value["LastCheck"] = DateTimeToIso(when);
    store_->GetORM().Update(row);
  }

  test::TempDir dir_;
  test::LogCapture log_;
  std::atomic<TDateTime> now_{EncodeDateTime(2024, 3, 5, 14, 0, 0)};
  std::shared_ptr<TPlinthDI> di_;
  std::shared_ptr<TCourioDataStore> store_;
  std::shared_ptr<test::TFakeDBManager> lastDb_;
};

TEST_F(TrackerFrameworkTest, FirstRunCreatesTheRowWithFirstRunValuesAndPassesAtOnce) {
  TTestTracker t(Traits());
  t.Initialise();
  TSQLSettings row;
  ASSERT_TRUE(store_->GetORM().Retrieve("Name = 'DriverAssigned'", {}, row));
  EXPECT_EQ(JsonDump(row.Value), R"({"LastCheck":"2024-03-04T14:00:00","LastTimestamp":"2024-03-05T00:00:00"})");
  EXPECT_TRUE(lastDb_ && lastDb_->IsConnected());
  t.ThreadTask();
  EXPECT_EQ(t.passes, 1);
  ASSERT_TRUE(store_->GetORM().Retrieve("Name = 'DriverAssigned'", {}, row));
  EXPECT_EQ(JsonAsText(JsonGet(row.Value, "LastCheck")), "2024-03-05T14:00:00") << "written back to the store";
  auto m = log_.Messages();
  EXPECT_EQ(m, (std::vector<std::string>{"[TTestTracker.Initialise] Connecting to DB",
                                         "[TTestTracker.Initialise] Getting instance of datastore"}));
}

TEST_F(TrackerFrameworkTest, AnExistingRowIsFoundByItsConditionInAnyLetterCase) {
  TSQLSettings row;
  row.Name = "driverassigned";
  row.Value = {{"LastCheck", "2024-03-05T13:59:00"}, {"LastTimestamp", "2024-03-05T12:00:00"}};
  store_->GetORM().Add(row);
  TTestTracker t(Traits());
  t.Initialise();
  EXPECT_EQ(t.Settings().ID, row.ID);
  EXPECT_EQ(JsonAsText(JsonGet(t.Settings().Value, "LastTimestamp")), "2024-03-05T12:00:00");
}

TEST_F(TrackerFrameworkTest, GapRuleCountsWholeSecondsEitherWay) {
  struct Case {
    int gap;
    int lastCheckAgo;     // whole seconds before now; negative = in the future
    double clockAdvance;  // then the clock moves on by this much
    bool runs;
  };
  const Case cases[] = {{10, 10, 0, false}, {10, 10, 0.9, false}, {10, 11, 0, true}, {15, 15, 0, false},
                        {15, 16, 0, true},  {10, -10, 0, false},  {10, -11, 0, true}, {10, 0, 0, false}};
  const TDateTime start = now_.load();
  for (const auto& c : cases) {
    SCOPED_TRACE("gap " + std::to_string(c.gap) + ", LastCheck " + std::to_string(c.lastCheckAgo) + " s ago + " +
                 std::to_string(c.clockAdvance));
    now_ = start;
    store_->GetDatabase().Execute("DELETE FROM Settings");
    {
      TTestTracker first(Traits(c.gap));
      first.Initialise();
      SetLastCheck(first, IncSecond(start, -c.lastCheckAgo));
    }
    // A restart reads the stored row (the in-memory row is authoritative afterwards).
    TTestTracker t(Traits(c.gap));
    t.Initialise();
    Advance(c.clockAdvance);
    t.ThreadTask();
    EXPECT_EQ(t.passes, c.runs ? 1 : 0);
    if (c.runs) {
      EXPECT_EQ(LastCheck(t), DateTimeToIso(now_.load())) << "the pass writes the current time";
    }
  }
}

TEST_F(TrackerFrameworkTest, FailedPassWithoutLastCheckIsRetriedWithAGrowingBackOffAndFoldedErrors) {
  TTestTracker t(Traits(10, /*lastCheckAfterFailure=*/false));
  t.detect = [] () -> bool { throw std::runtime_error("Invalid column name 'Bogus'"); };
  t.Initialise();
  std::string before = LastCheck(t);
  t.ThreadTask();
  EXPECT_EQ(t.passes, 1);
  EXPECT_EQ(LastCheck(t), before) << "no LastCheck after a failed pass";
  // Retries come after 0.1 s, then 0.2 s, 0.4 s ... not on every 100 ms turn.
  std::vector<double> waits = {0.1, 0.2, 0.4, 0.8};
  for (double w : waits) {
    Advance(w - 0.05);
    t.ThreadTask();
    int before = t.passes;
    Advance(0.05);
    t.ThreadTask();
    EXPECT_EQ(t.passes, before + 1) << "retry after " << w << " s";
  }
  EXPECT_EQ(log_.Count("[TTestTracker.ThreadTask] Error : Invalid column name 'Bogus'"), 1u)
      << "identical errors within a minute are folded";
  Advance(61);
  t.ThreadTask();
  EXPECT_TRUE(log_.Contains("[TTestTracker.ThreadTask] Error : Invalid column name 'Bogus' (repeated 4 times since the last report)"));
  // The back-off never exceeds the minimum gap.
  for (int i = 0; i < 10; ++i) {
    Advance(10.01);
    int before = t.passes;
    t.ThreadTask();
    EXPECT_EQ(t.passes, before + 1);
  }
}

TEST_F(TrackerFrameworkTest, FailedPassWritesLastCheckWhenTheTrackerSaysSo) {
  TTestTracker t(Traits(10, /*lastCheckAfterFailure=*/true));
  t.detect = [] () -> bool { throw std::runtime_error("timeout"); };
  t.Initialise();
  t.ThreadTask();
  EXPECT_EQ(LastCheck(t), "2024-03-05T14:00:00");
  Advance(5);
  t.ThreadTask();
  EXPECT_EQ(t.passes, 1) << "the next attempt waits for the gap";
  EXPECT_EQ(log_.Count("[TTestTracker.ThreadTask] Error : timeout"), 1u);
}

TEST_F(TrackerFrameworkTest, APassThatFetchedNothingWritesNoLastCheckAndBacksOff) {
  TTestTracker t(Traits());
  t.detect = [] { return false; };
  t.Initialise();
  std::string before = LastCheck(t);
  t.ThreadTask();
  Advance(0.05);
  t.ThreadTask();
  EXPECT_EQ(t.passes, 1);
  EXPECT_EQ(LastCheck(t), before);
  EXPECT_FALSE(log_.Contains("Error"));
}

TEST_F(TrackerFrameworkTest, WithoutADatabaseManagerInitialiseLogsAndGoesOn) {
  di_->RemoveNamedFactory(IDBManager::IID, "plinth");
  TTestTracker t(Traits());
  EXPECT_NO_THROW(t.Initialise());
  EXPECT_TRUE(log_.Contains("[TTestTracker.Initialise] Error : Could no make IDBManager"));
  EXPECT_GT(t.Settings().ID, 0) << "the settings row is still loaded";
}

TEST_F(TrackerFrameworkTest, StopReturnsAtOnceAndFinaliseWaitsForTheRunningPass) {
  TTestTracker t(Traits());
  std::atomic<bool> inPass{false}, passDone{false};
  t.detect = [&] {
    inPass = true;
    std::this_thread::sleep_for(300ms);
    passDone = true;
    return true;
  };
  t.Initialise();
  t.Start();
  ASSERT_TRUE(test::WaitUntil([&] { return inPass.load(); }, 2s));
  auto before = std::chrono::steady_clock::now();
  t.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 50ms);
  t.Finalise();
  EXPECT_TRUE(passDone) << "Finalise returns only after the pass";
}

}  // namespace
}  // namespace courio
