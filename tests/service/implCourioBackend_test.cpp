#include "service/implCourioBackend.hpp"

#include <gtest/gtest.h>

#include <httplib.h>

#include <mutex>

#include "common/log/LogFacility.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/di/implDI.hpp"
#include "service/ServiceControl.hpp"
#include "store/clsCourioData.hpp"
#include "support/FakeDBManager.hpp"
#include "support/TestSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

// What the components were asked to do, in order, across all of them.
struct TJournal {
  std::mutex mutex;
  std::vector<std::string> entries;
  void Add(const std::string& e) {
    std::lock_guard lock(mutex);
    entries.push_back(e);
  }
  // Entries and the log's messages interleave through this single journal.
};

class TJournalTracker final : public ICourioEventTracker {
 public:
  TJournalTracker(std::string name, TJournal& j, bool failInitialise) : name_(std::move(name)), j_(j), fail_(failInitialise) {}
  void Initialise() override {
    j_.Add(name_ + ".Initialise");
    if (fail_) throw std::runtime_error(name_ + " could not initialise");
  }
  void Finalise() override { j_.Add(name_ + ".Finalise"); }
  void Start() override { j_.Add(name_ + ".Start"); }
  void Stop() override { j_.Add(name_ + ".Stop"); }

 private:
  std::string name_;
  TJournal& j_;
  bool fail_;
};

class TJournalUploader final : public ICourioEventUploader {
 public:
  explicit TJournalUploader(TJournal& j) : j_(j) {}
  void Initialise() override { j_.Add("Uploader.Initialise"); }
  void Finalise() override { j_.Add("Uploader.Finalise"); }
  void Start() override { j_.Add("Uploader.Start"); }
  void Stop() override {
    j_.Add("Uploader.Stop");
    LogInfo("(uploader stopped)");
  }

 private:
  TJournal& j_;
};

class BackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServiceControl().Reset();
    // The admin console the backend makes listens on a free loopback port.
    setenv("COURIO_HTTP_PORT", "0", 1);
    setenv("COURIO_HTTP_BIND", "127.0.0.1", 1);
    setenv("COURIO_ADMIN_AUTH", "tech:pass", 1);
    di_ = std::make_shared<TPlinthDI>();
    db_ = std::make_shared<test::TFakeDBManager>();
    di_->AddNamedFactory(IDBManager::IID, "plinth",
                         std::make_shared<TPlinthFnFactory>([this] { return std::static_pointer_cast<IInterface>(db_); }));
    di_->AddFactory(ICourioDataStore::IID, std::make_shared<TPlinthFnFactory>([this] {
      return std::static_pointer_cast<IInterface>(std::make_shared<TCourioDataStore>(dir_.File("CourioSvc.db3")));
    }));
    for (std::string name : {"NewInvoice", "RemoteChanges", "DriverAssigned"})
      di_->AddNamedFactory(ICourioEventTracker::IID, name, std::make_shared<TPlinthFnFactory>([this, name] {
        return std::static_pointer_cast<IInterface>(std::make_shared<TJournalTracker>(name, journal_, name == failing_));
      }));
    di_->AddFactory(ICourioEventUploader::IID, std::make_shared<TPlinthFnFactory>([this] {
      return std::static_pointer_cast<IInterface>(std::make_shared<TJournalUploader>(journal_));
    }));
    SetPlinthDI(di_);
  }
  void TearDown() override {
    unsetenv("COURIO_HTTP_PORT");
    unsetenv("COURIO_HTTP_BIND");
    unsetenv("COURIO_ADMIN_AUTH");
    SetPlinthDI(nullptr);
    ServiceControl().Reset();
  }

  test::TempDir dir_;
  test::LogCapture log_;
  TJournal journal_;
  std::string failing_;
  std::shared_ptr<TPlinthDI> di_;
  std::shared_ptr<test::TFakeDBManager> db_;
};

TEST_F(BackendTest, WaitsForThePosLoggingEachFailedAttemptBeforeBuildingAnything) {
  db_->connectsBeforeSuccess = 4;  // Connect and three retries fail
  TCourioBackend backend;
  backend.Initialise();
  EXPECT_EQ(db_->openAttempts, 5);
  auto m = log_.Messages();
  std::vector<std::string> expected = {
      "[TCourioBackend.Initialise] Initialising Backend",
      "[TCourioBackend.Initialise] Connecting to DB",
      "[TCourioBackend.Initialise] Error : [FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable",
      "[TCourioBackend.Initialise] Make sure we can connect to the DB",
      "[TCourioBackend.Initialise] Error : [FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable",
      "[TCourioBackend.Initialise] Error : [FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable",
      "[TCourioBackend.Initialise] Error : [FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable",
      "[TCourioBackend.Initialise] Connecting to local DB",
      "[TCourioBackend.Initialise] Create the Event Trackers",
      "[TCourioBackend.Initialise] Creating Event Tracker : NewInvoice",
      "[TCourioBackend.Initialise] Creating Event Tracker : RemoteChanges",
      "[TCourioBackend.Initialise] Creating Event Tracker : DriverAssigned",
      "[TCourioBackend.Initialise] Create HTTP Server",
      "[TCourioHTTP.Create] Admin console listening on http://127.0.0.1:",
  };
  ASSERT_EQ(m.size(), expected.size());
  m.back().resize(expected.back().size());  // the port is the system's choice
  EXPECT_EQ(m, expected);
  IDBManagerPtr bbsql;
  EXPECT_TRUE(di_->FindNamedInstance("BBSQL", bbsql));
  EXPECT_EQ(bbsql, db_);
  backend.Stop();
  backend.Finalise();
}

TEST_F(BackendTest, AStopRequestEndsTheWaitForThePosAtOnce) {
  db_->connectsBeforeSuccess = 1000000;
  TCourioBackend backend;
  std::thread stopper([] {
    std::this_thread::sleep_for(300ms);
    ServiceControl().Post(TControlRequest::Stop);
  });
  auto before = std::chrono::steady_clock::now();
  backend.Initialise();
  auto waited = std::chrono::steady_clock::now() - before;
  stopper.join();
  EXPECT_LT(waited, 1s);
  EXPECT_TRUE(journal_.entries.empty()) << "nothing was built";
  backend.Start();
  backend.Stop();
  backend.Finalise();
  EXPECT_FALSE(di_->HasNamedInstance(TInterfaceQuery::For<IDBManager>(), "bbsql"));
}

TEST_F(BackendTest, ATrackerFailingInitialiseIsStillKeptAndStartedInOrder) {
  failing_ = "RemoteChanges";
  TCourioBackend backend;
  backend.Initialise();
  backend.Start();
  EXPECT_EQ(journal_.entries,
            (std::vector<std::string>{"NewInvoice.Initialise", "RemoteChanges.Initialise", "DriverAssigned.Initialise",
                                      "Uploader.Initialise", "NewInvoice.Start", "RemoteChanges.Start",
                                      "DriverAssigned.Start", "Uploader.Start"}));
  EXPECT_TRUE(log_.Contains("[TCourioBackend.Initialise] Error : RemoteChanges could not initialise"));
  EXPECT_EQ(backend.Trackers().size(), 3u);
  backend.Stop();
  backend.Finalise();
}

TEST_F(BackendTest, StopAndFinaliseRunInOrderAndReleaseTheSharedInstances) {
  TCourioBackend backend;
  backend.Initialise();
  std::shared_ptr<ICourioDataStore> store;
  EXPECT_TRUE(di_->GetInstance(store));
  store.reset();
  backend.Start();
  journal_.entries.clear();
  backend.Stop();
  backend.Finalise();
  EXPECT_EQ(journal_.entries,
            (std::vector<std::string>{"Uploader.Stop", "NewInvoice.Stop", "RemoteChanges.Stop", "DriverAssigned.Stop",
                                      "NewInvoice.Finalise", "RemoteChanges.Finalise", "DriverAssigned.Finalise",
                                      "Uploader.Finalise"}));
  auto m = log_.Messages();
  auto at = [&](const std::string& s) { return std::find(m.begin(), m.end(), s) - m.begin(); };
  EXPECT_LT(at("(uploader stopped)"), at("[TCourioBackend.Stop] Stopping Backend"))
      << "the uploader is stopped before the line, the trackers after it";
  EXPECT_LT(at("[TCourioBackend.Stop] Stopping Backend"), at("[TCourioBackend.Finalise] Finalising Backend"));
  EXPECT_FALSE(di_->GetInstance(store));
  EXPECT_FALSE(di_->HasNamedInstance(TInterfaceQuery::For<IDBManager>(), "bbsql"));
}

TEST_F(BackendTest, TheConsoleAnswersFromInitialiseUntilStopOverTheBackendsStore) {
  TCourioBackend backend;
  backend.Initialise();
  auto m = log_.Messages();
  ASSERT_FALSE(m.empty());
  const std::string prefix = "[TCourioHTTP.Create] Admin console listening on http://127.0.0.1:";
  ASSERT_EQ(m.back().rfind(prefix, 0), 0u) << m.back();
  int port = std::stoi(m.back().substr(prefix.size()));
  std::shared_ptr<ICourioDataStore> store;
  ASSERT_TRUE(di_->GetInstance(store));
  TSQLSettings row;
  row.Name = "Store";
  row.Value = {{"id", 7}};
  store->GetORM().Add(row);
  store.reset();

  httplib::Client client("127.0.0.1", port);
  client.set_basic_auth("tech", "pass");
  auto before = client.Get("/admin/settings/Store");  // listening before Start
  ASSERT_TRUE(before);
  EXPECT_EQ(before->status, 200);
  backend.Start();
  auto posted = client.Post("/admin/settings/Store", "id=12", "application/x-www-form-urlencoded");
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 200);
  backend.Stop();
  EXPECT_FALSE(client.Get("/admin")) << "nothing listens after Stop";
  auto at = [&](const std::string& s) {
    auto lines = log_.Messages();
    return std::find(lines.begin(), lines.end(), s) - lines.begin();
  };
  backend.Finalise();
  EXPECT_LT(at("[TCourioBackend.Finalise] Finalising Trackers"), at("[TCourioBackend.Finalise] Finalising HTTP Server"));
  TCourioDataStore reopened(dir_.File("CourioSvc.db3"));
  TSQLSettings stored;
  ASSERT_TRUE(reopened.GetORM().Retrieve("Name = ?", {"Store"}, stored));
  EXPECT_EQ(JsonDump(stored.Value), R"({"id":"12"})");
}

TEST_F(BackendTest, WithoutADatabaseManagerInitialiseFails) {
  di_->RemoveNamedFactory(IDBManager::IID, "plinth");
  TCourioBackend backend;
  EXPECT_THROW(backend.Initialise(), std::runtime_error);
  EXPECT_TRUE(log_.Contains("[TCourioBackend.Initialise] Error : Could not create Plinth DB (implCourioBackend, line 145)"));
}

}  // namespace
}  // namespace courio
