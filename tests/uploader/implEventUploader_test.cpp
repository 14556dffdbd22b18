#include "uploader/implEventUploader.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "cloud/CloudTestSupport.hpp"
#include "cloud/intfCourioAPI.hpp"
#include "common/util/Errors.hpp"
#include "common/util/StrUtils.hpp"
#include "common/di/implDI.hpp"
#include "common/rest/intfRestClient.hpp"
#include "store/clsCourioData.hpp"
#include "support/TestSupport.hpp"
#include "support/StoreSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;
using test::TSimProcess;

const TDateTime kNoon = EncodeDateTime(2024, 1, 1, 12, 0, 0);  // 45292.5 on the wire
const char* const kNoonWire = "45292.5";

std::string OrderDocument(long long invoice) {
  return R"({ "external_id": "plinth-)" + std::to_string(invoice) + R"(", "store_id": "7", "total": 12.50 })";
}

// One request as the cloud received it: "METHOD path body".
std::string Wire(const std::string& method, const std::string& path, const std::string& body) {
  return method + " " + path + " " + body;
}
std::string OrderWire(long long invoice) { return Wire("POST", "/api/delivery/json", OrderDocument(invoice)); }
std::string DriverWire(const char* path, const std::string& emp) {
  return Wire("POST", path,
              R"({"store_id":7,"driver_external_id":"PLINTH_)" + emp + R"(","timestamp":)" + kNoonWire + "}");
}

class UploaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClockForTesting([this] { return now_.load(); });
    di_ = std::make_shared<TPlinthDI>();
    RegisterRestClient(*di_);
    RegisterCourioAPI(*di_);
    RegisterCourioEventUploader(*di_);
    store_ = std::make_shared<TCourioDataStore>(dir_.File("CourioSvc.db3"));
    di_->AddInstance<ICourioDataStore>(store_);
    SetPlinthDI(di_);
  }
  void TearDown() override {
    SetPlinthDI(nullptr);
    SetClockForTesting(nullptr);
  }

  void AddSetting(const std::string& name, const TJson& value) { test::AddSettingsRow(*store_, name, value); }
  // The shared rows that point the uploader at `url` with the simulator's account and store 7.
  void Configure(const std::string& url) {
    AddSetting("WebService", {{"Url", url}});
    AddSetting("Account", {{"email_address", test::kSimUser}, {"password", test::kSimPassword}});
    AddSetting("Store", {{"id", 7}});
  }
  std::shared_ptr<TCourioEventUploader> MakeUploader() {
    ICourioEventUploaderPtr made;
    EXPECT_TRUE(PlinthDI().CreateInstance(made));
    auto uploader = std::dynamic_pointer_cast<TCourioEventUploader>(made);
    EXPECT_TRUE(uploader);
    uploader->Initialise();
    return uploader;
  }

  long long AddInvoiceEvent(int type, long long invoice, const std::string& data) {
    TSQLInvoiceEvent e;
    e.EventType = type;
    e.InvoiceNum = invoice;
    e.Timestamp = kNoon;
    e.EventData = data;
    return store_->GetORM().Add(e);
  }
  long long AddOrder(long long invoice) { return AddInvoiceEvent(1, invoice, OrderDocument(invoice)); }
  long long AddDriverEvent(int type, const std::string& emp) {
    TSQLDriverEvent e;
    e.EventType = type;
    e.EmpNum = emp;
    e.Timestamp = kNoon;
    return store_->GetORM().Add(e);
  }
  TSQLInvoiceEvent Invoice(long long id) {
    TSQLInvoiceEvent e;
    EXPECT_TRUE(store_->GetORM().Retrieve("ID = %", {id}, e));
    return e;
  }
  TSQLDriverEvent Driver(long long id) {
    TSQLDriverEvent e;
    EXPECT_TRUE(store_->GetORM().Retrieve("ID = %", {id}, e));
    return e;
  }
  int InvoiceStatus(long long id) { return Invoice(id).UploadStatus; }
  int DriverStatus(long long id) { return Driver(id).UploadStatus; }

  // The API requests the simulator received, in order.
  std::vector<std::string> Received(TSimProcess& sim) {
    std::vector<std::string> out;
    for (const auto& r : sim.Requests())
      out.push_back(Wire(JsonAsText(JsonGet(r, "method")), JsonAsText(JsonGet(r, "path")), JsonAsText(JsonGet(r, "body"))));
    return out;
  }
  size_t RequestCount(TSimProcess& sim) { return sim.Requests().size(); }

  void Advance(double seconds) { now_ = now_.load() + seconds / 86400; }

  test::TempDir dir_;
  test::LogCapture log_;
  test::TCapturedManagerLog managerLog_;
  std::atomic<TDateTime> now_{EncodeDateTime(2024, 3, 5, 14, 0, 0)};
  std::shared_ptr<TPlinthDI> di_;
  std::shared_ptr<TCourioDataStore> store_;
};

// ------------------------------------------------------------ the wire

TEST_F(UploaderTest, EveryEventTypeBecomesItsCallInvoiceFirstOnePairPerPass) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  long long order = AddOrder(1234);
  // The assignment's employee and invoice come from EventData, not from the row.
  long long assign = AddInvoiceEvent(2, 1, R"({"InvoiceNum":1234,"TimeStamp":"2024-01-01T12:00:00","DriverEmpnum":12})");
  long long toCollect = AddInvoiceEvent(3, 1234, "");
  long long overring = AddInvoiceEvent(4, 1234, R"({"ActivityID":881})");
  long long clockIn = AddDriverEvent(1, "012");
  long long leave = AddDriverEvent(2, "012");
  long long back = AddDriverEvent(3, "012");

  auto uploader = MakeUploader();
  const TDateTime firstPass = now_.load();
  uploader->ThreadTask();  // at once: lastRun is a day old
  for (int pass = 2; pass <= 4; ++pass) {
    Advance(3.5);
    uploader->ThreadTask();
  }

  EXPECT_EQ(Received(sim),
            (std::vector<std::string>{
                OrderWire(1234),
                DriverWire("/api/driver/clockin", "012"),
                Wire("POST", "/api/delivery/assignexternal/7",
                     std::string(R"({"external_id":"plinth-1234","driver_external_id":"PLINTH_12","timestamp":)") +
                         kNoonWire + "}"),
                DriverWire("/api/driver/leavestore", "012"),
                Wire("POST", "/api/delivery/updatestatus/7", R"({"external_id":"plinth-1234","new_status":93})"),
                DriverWire("/api/driver/atstore", "012"),
                Wire("POST", "/api/delivery/updatestatus/7", R"({"external_id":"plinth-1234","new_status":94})"),
            }));
  for (const auto& r : sim.Requests()) {
    EXPECT_EQ(JsonAsText(JsonGet(JsonGet(r, "headers"), "Content-Type")), "application/json") << JsonDump(r);
    EXPECT_EQ(JsonAsText(JsonGet(JsonGet(r, "headers"), "Authorization")),
              "Basic " + Base64Encode(std::string(test::kSimUser) + ":" + test::kSimPassword));
  }
  for (long long id : {order, assign, toCollect, overring}) {
    SCOPED_TRACE("invoice event " + std::to_string(id));
    EXPECT_EQ(InvoiceStatus(id), TCourioEventUploader::kSent);
  }
  for (long long id : {clockIn, leave, back}) EXPECT_EQ(DriverStatus(id), TCourioEventUploader::kSent) << id;
  EXPECT_EQ(DateTimeToIso(Invoice(order).UploadTimestamp), DateTimeToIso(firstPass));
  EXPECT_EQ(DateTimeToIso(Invoice(overring).UploadTimestamp), DateTimeToIso(now_.load()));

  // Some lines go through the log manager, the others straight to the log file.
  EXPECT_TRUE(managerLog_->Has("[TCourioEventUploader.ThreadTask] Found : " + std::to_string(order)));
  bool orderResponse = false;
  for (const auto& l : managerLog_->Lines())
    orderResponse = orderResponse || l.rfind("[TCourioEventUploader.ThreadTask] Response : {", 0) == 0;
  EXPECT_TRUE(orderResponse) << "the order's answer goes through the log manager";
  auto m = log_.Messages();
  auto has = [&](const std::string& line) { return std::find(m.begin(), m.end(), line) != m.end(); };
  EXPECT_TRUE(has("[TCourioEventUploader.ThreadTask] Driver Events Found : " + std::to_string(clockIn)));
  EXPECT_TRUE(has("[TCourioEventUploader.ThreadTask] Clocking Driver IN"));
  EXPECT_TRUE(has("[TCourioEventUploader.ThreadTask] Driver Leaving Store"));
  EXPECT_TRUE(has("[TCourioEventUploader.ThreadTask] Back at Store"));
  EXPECT_EQ(log_.Count("[TCourioEventUploader.ThreadTask] Response  : {"), 1u) << "type 2, two blanks";
  EXPECT_EQ(log_.Count("[TCourioEventUploader.ThreadTask] Response : {"), 5u) << "types 3, 4 and the drivers";
}

TEST_F(UploaderTest, PassesComeAtMostEveryThreeWholeSeconds) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  struct Case {
    double advance;  // seconds after the first pass ended (negative: clock set back)
    bool runs;
  };
  const Case cases[] = {{2.9, false}, {2.999, false}, {3.0, true}, {3.5, true}, {-2.5, false}, {-3.5, true}};
  const TDateTime start = now_.load();
  for (const auto& c : cases) {
    SCOPED_TRACE("second pass " + std::to_string(c.advance) + " s after the first");
    now_ = start;
    store_->GetDatabase().Execute("DELETE FROM InvoiceEvent");
    sim.ClearRequests();
    long long first = AddOrder(501);
    long long second = AddOrder(502);
    auto uploader = MakeUploader();
    uploader->ThreadTask();
    EXPECT_EQ(InvoiceStatus(first), TCourioEventUploader::kSent) << "the first pass works at once";
    Advance(c.advance);
    uploader->ThreadTask();
    EXPECT_EQ(InvoiceStatus(second), c.runs ? TCourioEventUploader::kSent : TCourioEventUploader::kPending);
    EXPECT_EQ(RequestCount(sim), c.runs ? 2u : 1u);
  }
}

// ------------------------------------------------------------ undelivered events

TEST_F(UploaderTest, CloudDownHoldsEverythingBacksOffGrowingThenDeliversEachRowOnceInOrder) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  long long o1 = AddOrder(101), o2 = AddOrder(102), o3 = AddOrder(103);
  long long d1 = AddDriverEvent(1, "7"), d2 = AddDriverEvent(2, "7");
  sim.SetFailure({{"mode", "down"}});

  auto uploader = MakeUploader();
  uploader->ThreadTask();
  ASSERT_EQ(RequestCount(sim), 1u) << "the driver event waits with the invoice event";
  // The wait doubles from 3 s up to 5 min; no request goes out before it is over.
  for (double wait : {3, 6, 12, 24, 48, 96, 192, 300, 300}) {
    size_t before = RequestCount(sim);
    Advance(wait - 0.5);
    uploader->ThreadTask();
    EXPECT_EQ(RequestCount(sim), before) << "nothing during a wait of " << wait << " s";
    Advance(0.5);
    uploader->ThreadTask();
    EXPECT_EQ(RequestCount(sim), before + 1) << "one retry after " << wait << " s";
  }
  for (long long id : {o1, o2, o3}) EXPECT_EQ(InvoiceStatus(id), TCourioEventUploader::kPending);
  for (long long id : {d1, d2}) EXPECT_EQ(DriverStatus(id), TCourioEventUploader::kPending);
  size_t heldLines = log_.Count("[TCourioEventUploader.ThreadTask] Held : invoice event " + std::to_string(o1) +
                                " stays pending, the cloud gave no answer");
  EXPECT_GE(heldLines, 1u);
  EXPECT_LT(heldLines, 10u) << "repeats of the line are folded";
  EXPECT_TRUE(log_.Contains("stays pending, the cloud gave no answer (repeated "));

  sim.SetFailure({{"mode", "none"}});
  sim.ClearRequests();
  for (int pass = 0; pass < 5; ++pass) {
    Advance(300);
    uploader->ThreadTask();
  }
  EXPECT_EQ(Received(sim), (std::vector<std::string>{OrderWire(101), DriverWire("/api/driver/clockin", "7"),
                                                     OrderWire(102), DriverWire("/api/driver/leavestore", "7"),
                                                     OrderWire(103)}));
  for (long long id : {o1, o2, o3}) EXPECT_EQ(InvoiceStatus(id), TCourioEventUploader::kSent);
  for (long long id : {d1, d2}) EXPECT_EQ(DriverStatus(id), TCourioEventUploader::kSent);
}

TEST_F(UploaderTest, NoServerListeningHoldsTheRowUntilTheCloudIsThere) {
  int port = test::UnusedPort();
  Configure("http://127.0.0.1:" + std::to_string(port));
  long long order = AddOrder(301);
  auto uploader = MakeUploader();
  uploader->ThreadTask();
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kPending);
  EXPECT_TRUE(log_.Contains("[TCourioEventUploader.ThreadTask] Held : invoice event " + std::to_string(order) +
                            " stays pending, the cloud gave no answer"));

  TSimProcess sim({"--port", std::to_string(port)});
  Advance(2.9);
  uploader->ThreadTask();
  EXPECT_EQ(RequestCount(sim), 0u);
  Advance(0.2);
  uploader->ThreadTask();
  EXPECT_EQ(Received(sim), std::vector<std::string>{OrderWire(301)});
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kSent);
}

TEST_F(UploaderTest, RetryAfterFromTheCloudSetsTheWaitUpToFiveMinutes) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  struct Case {
    int status;
    int retryAfter;
    double wait;
  };
  const Case cases[] = {{429, 20, 20}, {503, 45, 45}, {503, 1000, 300}, {429, 4, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " with Retry-After " + std::to_string(c.retryAfter));
    store_->GetDatabase().Execute("DELETE FROM InvoiceEvent");
    long long order = AddOrder(401);
    auto uploader = MakeUploader();
    sim.SetFailure({{"mode", "status"}, {"status", c.status}, {"retry_after", c.retryAfter}, {"count", 1}});
    sim.ClearRequests();
    uploader->ThreadTask();
    EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kPending);
    Advance(c.wait - 0.5);
    uploader->ThreadTask();
    EXPECT_EQ(RequestCount(sim), 1u) << "no request before the cloud's time";
    Advance(0.5);
    uploader->ThreadTask();
    EXPECT_EQ(RequestCount(sim), 2u);
    EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kSent);
  }
}

TEST_F(UploaderTest, AnswerDecidesRejectedOrHeld) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  struct Case {
    int status;
    int rowAfter;  // the first row after the failed call
  };
  const int R = TCourioEventUploader::kRejected, P = TCourioEventUploader::kPending;
  const Case cases[] = {{400, R}, {404, R}, {409, R}, {422, R}, {401, P}, {403, P},
                        {408, P}, {429, P}, {500, P}, {502, P}, {503, P}, {302, P}};
  for (const auto& c : cases) {
    SCOPED_TRACE("the cloud answers " + std::to_string(c.status));
    store_->GetDatabase().Execute("DELETE FROM InvoiceEvent");
    long long first = AddOrder(201);
    long long second = AddOrder(202);
    auto uploader = MakeUploader();
    sim.SetFailure({{"mode", "status"}, {"status", c.status}, {"count", 1}});
    uploader->ThreadTask();
    EXPECT_EQ(InvoiceStatus(first), c.rowAfter);
    EXPECT_EQ(InvoiceStatus(second), P);
    // 3 s later: a rejected row is done with and the next one goes; a held
    // row is the one tried again.
    sim.ClearRequests();
    Advance(3.1);
    uploader->ThreadTask();
    if (c.rowAfter == R) {
      EXPECT_EQ(Received(sim), std::vector<std::string>{OrderWire(202)});
      EXPECT_EQ(InvoiceStatus(first), R);
      EXPECT_EQ(InvoiceStatus(second), TCourioEventUploader::kSent);
    } else {
      EXPECT_EQ(Received(sim), std::vector<std::string>{OrderWire(201)});
      EXPECT_EQ(InvoiceStatus(first), TCourioEventUploader::kSent);
      EXPECT_EQ(InvoiceStatus(second), P);
    }
  }
  EXPECT_TRUE(log_.Contains("[TCourioEventUploader.ThreadTask] Rejected : invoice event"));
  EXPECT_TRUE(log_.Contains("stays pending, the cloud answered 401 (check the \"Account\" and \"Store\" settings)"));
}

TEST_F(UploaderTest, AStatusChangeForAnOrderTheCloudDoesNotKnowIsRejectedAndTheQueueMovesOn) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  long long unknown = AddInvoiceEvent(3, 9999, "");
  long long order = AddOrder(1000);
  auto uploader = MakeUploader();
  uploader->ThreadTask();
  EXPECT_EQ(InvoiceStatus(unknown), TCourioEventUploader::kRejected);
  EXPECT_TRUE(log_.Contains("[TCourioEventUploader.ThreadTask] Rejected : invoice event " + std::to_string(unknown) +
                            " (EventType 3, InvoiceNum 9999), the cloud answered 404 : marked 2"));
  Advance(3.1);
  uploader->ThreadTask();
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kSent);
}

TEST_F(UploaderTest, AHeldDriverEventBacksOffTheWholePass) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  long long clockIn = AddDriverEvent(1, "31");
  auto uploader = MakeUploader();
  sim.SetFailure({{"mode", "5xx"}, {"retry_after", 30}, {"count", 1}});
  uploader->ThreadTask();
  EXPECT_EQ(DriverStatus(clockIn), TCourioEventUploader::kPending);
  long long order = AddOrder(600);
  sim.ClearRequests();
  Advance(29);
  uploader->ThreadTask();
  EXPECT_EQ(RequestCount(sim), 0u) << "the invoice event waits as well";
  Advance(1);
  uploader->ThreadTask();
  EXPECT_EQ(Received(sim), (std::vector<std::string>{OrderWire(600), DriverWire("/api/driver/clockin", "31")}));
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kSent);
  EXPECT_EQ(DriverStatus(clockIn), TCourioEventUploader::kSent);
}

TEST_F(UploaderTest, RowsThatCannotBecomeACallAreRejectedWithoutARequest) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  long long oddInvoice = AddInvoiceEvent(7, 55, "");
  long long oddDriver = AddDriverEvent(9, "7");
  long long unreadable = AddInvoiceEvent(2, 55, "not json");
  long long clockIn = AddDriverEvent(1, "7");
  long long order = AddOrder(55);
  auto uploader = MakeUploader();

  uploader->ThreadTask();
  EXPECT_EQ(InvoiceStatus(oddInvoice), TCourioEventUploader::kRejected);
  EXPECT_EQ(DriverStatus(oddDriver), TCourioEventUploader::kRejected);
  EXPECT_EQ(RequestCount(sim), 0u);
  EXPECT_TRUE(log_.Contains("[TCourioEventUploader.ThreadTask] Rejected : invoice event " +
                            std::to_string(oddInvoice) + " has the unknown EventType 7"));
  EXPECT_TRUE(log_.Contains("[TCourioEventUploader.ThreadTask] Rejected : driver event " + std::to_string(oddDriver) +
                            " has the unknown EventType 9"));

  Advance(3.1);
  uploader->ThreadTask();
  EXPECT_EQ(InvoiceStatus(unreadable), TCourioEventUploader::kRejected);
  EXPECT_TRUE(log_.Contains("[TCourioEventUploader.ThreadTask] Rejected : invoice event " +
                            std::to_string(unreadable) + " has unreadable EventData"));
  EXPECT_EQ(Received(sim), std::vector<std::string>{DriverWire("/api/driver/clockin", "7")});
  EXPECT_EQ(DriverStatus(clockIn), TCourioEventUploader::kSent);

  Advance(3.1);
  uploader->ThreadTask();
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kSent);
}

TEST_F(UploaderTest, WithoutAnApiFactoryThePassFailsAndTheRowWaits) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  long long order = AddOrder(700);
  UnregisterCourioAPI(*di_);
  auto uploader = MakeUploader();
  uploader->ThreadTask();
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kPending);
  EXPECT_TRUE(log_.Contains(
      "[TCourioEventUploader.ThreadTask] Error : Could not create CourioAPI (implEventUploader, line 210)"));
  RegisterCourioAPI(*di_);
  Advance(2.5);
  uploader->ThreadTask();
  EXPECT_EQ(RequestCount(sim), 0u) << "a failed pass still counts for the 3 s rule";
  Advance(0.6);
  uploader->ThreadTask();
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kSent);
}

// ------------------------------------------------------------ settings and lifecycle

TEST_F(UploaderTest, TheUploaderRowIsCreatedOnceAndLeftAloneAfterwards) {
  auto first = MakeUploader();
  TSQLSettings row;
  ASSERT_TRUE(store_->GetORM().Retrieve("Name = 'Uploader'", {}, row));
  EXPECT_EQ(JsonDump(row.Value), R"({"LastUpload":"2024-03-04T14:00:00"})");
  EXPECT_EQ(first->UploaderRow().ID, row.ID);

  Advance(3600);
  auto second = MakeUploader();
  EXPECT_EQ(second->UploaderRow().ID, row.ID);
  EXPECT_EQ(store_->GetDatabase().ExecuteJSON("SELECT COUNT(*) AS n FROM Settings WHERE Name = 'Uploader'"),
            R"([{"n":1}])");
  TSQLSettings again;
  ASSERT_TRUE(store_->GetORM().Retrieve("Name = 'Uploader'", {}, again));
  EXPECT_EQ(JsonDump(again.Value), JsonDump(row.Value));
}

TEST_F(UploaderTest, AnExistingUploaderRowIsNotChangedAndItsLastUploadHasNoEffect) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  AddSetting("uploader", {{"LastUpload", "2024-03-05T14:00:00"}, {"Note", "kept"}});
  long long order = AddOrder(800);
  auto uploader = MakeUploader();
  uploader->ThreadTask();
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kSent) << "the first pass still works at once";
  EXPECT_EQ(store_->GetDatabase().ExecuteJSON("SELECT Name, Value FROM Settings WHERE Name = 'Uploader'"),
            R"([{"Name":"uploader","Value":"{\"LastUpload\":\"2024-03-05T14:00:00\",\"Note\":\"kept\"}"}])");
}

TEST_F(UploaderTest, ASettingsErrorIsLoggedThroughTheManagerAndSkipsTheRest) {
  AddSetting("Store", {{"id", "seven"}});
  auto uploader = MakeUploader();
  EXPECT_TRUE(managerLog_->Has("[TCourioEventUploader.LoadSettings] Error : 'seven' is not a valid integer value"));
  TSQLSettings row;
  EXPECT_FALSE(store_->GetORM().Retrieve("Name = 'Uploader'", {}, row)) << "the rest of the settings is skipped";
}

TEST_F(UploaderTest, InitialiseWithoutALocalStoreFails) {
  di_->RemoveInstance<ICourioDataStore>();
  TCourioEventUploader uploader;
  try {
    uploader.Initialise();
    FAIL() << "no error";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Could not get Datastore instance (implEventUploader, line 112)");
  }
}

TEST_F(UploaderTest, FactoryMakesANewUploaderEachTimeUntilUnregistered) {
  ICourioEventUploaderPtr a, b;
  ASSERT_TRUE(PlinthDI().CreateInstance(a));
  ASSERT_TRUE(PlinthDI().CreateInstance(b));
  EXPECT_NE(a, b);
  EXPECT_TRUE(std::dynamic_pointer_cast<TCourioEventUploader>(a));
  UnregisterCourioEventUploader(*di_);
  EXPECT_FALSE(PlinthDI().CreateInstance(a));
}

TEST_F(UploaderTest, StopReturnsDuringAPassAndFinaliseWaitsForIt) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  long long order = AddOrder(900);
  // The cloud holds the answer until the failure mode changes.
  sim.SetFailure({{"mode", "slow"}, {"delay_ms", 60000}});
  auto uploader = MakeUploader();
  uploader->Start();
  ASSERT_TRUE(test::WaitUntil([&] { return RequestCount(sim) == 1; }, 10s)) << "the first pass runs at once";
  uploader->Stop();
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kPending) << "Stop does not wait for the answer";
  sim.SetFailure({{"mode", "none"}});
  uploader->Finalise();
  EXPECT_EQ(InvoiceStatus(order), TCourioEventUploader::kSent) << "the pass ended before Finalise returned";

  long long later = AddOrder(901);
  Advance(10);
  uploader.reset();
  EXPECT_EQ(InvoiceStatus(later), TCourioEventUploader::kPending);
  EXPECT_EQ(RequestCount(sim), 1u);
}

TEST_F(UploaderTest, TheRunningThreadSendsABacklogInOrderAsTheClockMoves) {
  TSimProcess sim;
  Configure(sim.BaseURL());
  std::vector<long long> orders = {AddOrder(11), AddOrder(12), AddOrder(13)};
  auto uploader = MakeUploader();
  uploader->Start();
  for (long long id : orders) {
    // Each poll moves the clock on, so the worker's next turn is a pass.
    EXPECT_TRUE(test::WaitUntil(
        [&] {
          if (InvoiceStatus(id) == TCourioEventUploader::kSent) return true;
          Advance(1);
          return false;
        },
        10s))
        << "order row " << id;
  }
  uploader->Stop();
  uploader->Finalise();
  EXPECT_EQ(Received(sim), (std::vector<std::string>{OrderWire(11), OrderWire(12), OrderWire(13)}));
}

}  // namespace
}  // namespace courio
