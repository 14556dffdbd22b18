#include "cloud/implCourioAPI.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "CloudTestSupport.hpp"
#include "cloud/PasswordHash.hpp"
#include "common/rest/RestClientCurl.hpp"
#include "common/di/implDI.hpp"

namespace courio {
namespace {

using test::TSimProcess;
using test::TTempLogFile;

const TDateTime kNoon = EncodeDateTime(2024, 1, 1, 12, 0, 0);        // 45292.5
const TDateTime kMidnight = EncodeDateTime(2024, 1, 1);              // 45292
const TDateTime kAfternoon = EncodeDateTime(2024, 1, 31, 13, 45, 0);  // 45322.572916666664
const TDateTime kJan31 = EncodeDateTime(2024, 1, 31);

using TCall = std::function<bool(ICourioAPI&, std::string&)>;

class CourioAPITest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_ = std::make_shared<TRestClientCurl>();
    client_->SetBaseURL(sim_.BaseURL());
    client_->SetCredentials(test::kSimUser, test::kSimPassword);
    api_.SetRestClient(client_);
  }
  // An order plinth-1234 and a driver PLINTH_12 (id 1) in the simulator.
  void Seed() {
    std::string r;
    ASSERT_TRUE(api_.Order_Add("{\"external_id\":\"plinth-1234\",\"store_id\":\"7\"}", r)) << r;
    ASSERT_TRUE(api_.Driver_Add("Dee", "Driver", "pw", "PLINTH_12", r)) << r;
    sim_.ClearRequests();
  }

  TSimProcess sim_;
  TTempLogFile log_;
  std::shared_ptr<TRestClientCurl> client_;
  TCourioAPI api_;
};

struct TWireCase {
  const char* name;
  TCall call;
  const char* method;
  const char* target;
  const char* body;
};

TEST_F(CourioAPITest, EveryOperationSendsItsExactRequest) {
  Seed();
  const TWireCase cases[] = {
      {"GetClient", [](ICourioAPI& a, std::string& r) { return a.GetClient(1, r); }, "GET", "/api/client/json/1", ""},
      {"GetStores", [](ICourioAPI& a, std::string& r) { return a.GetStores(r); }, "GET", "/api/store/json/", ""},
      {"GetDrivers", [](ICourioAPI& a, std::string& r) { return a.GetDrivers(r); }, "GET", "/api/driver/json/", ""},
      {"Driver_Add",
       [](ICourioAPI& a, std::string& r) { return a.Driver_Add("Ann", "O'Neil \"Q\"\t", "Secret1", "PLINTH_0042", r); },
       "POST", "/api/driver/json",
       R"({"first_name":"Ann","last_name":"O'Neil \"Q\"\t","current_status":-1,)"
       R"("password_hash":"e52d98c459819a11775936d8dfbb7929","external_id":"PLINTH_0042"})"},
      {"Driver_UpdatePassword",
       [](ICourioAPI& a, std::string& r) { return a.Driver_UpdatePassword(7, "PLINTH_12", "sECRET1", r); }, "POST",
       "/api/driver/updatepassword/7",
       R"({"driver_external_id":"PLINTH_12","password_hash":"e52d98c459819a11775936d8dfbb7929"})"},
      {"Order_Add",
       [](ICourioAPI& a, std::string& r) { return a.Order_Add("{ \"external_id\" : \"plinth-77\", \"x\":1.50 }", r); },
       "POST", "/api/delivery/json", "{ \"external_id\" : \"plinth-77\", \"x\":1.50 }"},
      {"Delivery_Changes", [](ICourioAPI& a, std::string& r) { return a.Delivery_Changes(7, r, kAfternoon); }, "GET",
       "/api/delivery/changes/7?since=2024-01-31+13%3A45%3A00", ""},
      {"Delivery_AssignDriverExternal",
       [](ICourioAPI& a, std::string& r) { return a.Delivery_AssignDriverExternal(7, " 012 ", kNoon, 1234, r); },
       "POST", "/api/delivery/assignexternal/7",
       R"({"external_id":"plinth-1234","driver_external_id":"PLINTH_ 012 ","timestamp":45292.5})"},
      {"Delivery_UpdateStatus", [](ICourioAPI& a, std::string& r) { return a.Delivery_UpdateStatus(7, 1234, 93, r); },
       "POST", "/api/delivery/updatestatus/7", R"({"external_id":"plinth-1234","new_status":93})"},
      {"StoreDrivers_Add", [](ICourioAPI& a, std::string& r) { return a.StoreDrivers_Add(7, 1, r); }, "POST",
       "/api/storedrivers/json/", R"({"store_id":7,"driver_id":1})"},
      {"Driver_Changes", [](ICourioAPI& a, std::string& r) { return a.Driver_Changes(7, r, kJan31); }, "GET",
       "/api/driver/changes/7?since=2024-01-31+00%3A00%3A00", ""},
      {"Driver_ClockIn", [](ICourioAPI& a, std::string& r) { return a.Driver_ClockIn(7, "12", kNoon, r); }, "POST",
       "/api/driver/clockin", R"({"store_id":7,"driver_external_id":"PLINTH_12","timestamp":45292.5})"},
      {"Driver_LeaveStore", [](ICourioAPI& a, std::string& r) { return a.Driver_LeaveStore(7, "12", kMidnight, r); },
       "POST", "/api/driver/leavestore", R"({"store_id":7,"driver_external_id":"PLINTH_12","timestamp":45292})"},
      {"Driver_Return", [](ICourioAPI& a, std::string& r) { return a.Driver_Return(7, "12", kAfternoon, r); }, "POST",
       "/api/driver/atstore", R"({"store_id":7,"driver_external_id":"PLINTH_12","timestamp":45322.5729166667})"},
      {"DeliveryPayment_Changes",
       [](ICourioAPI& a, std::string& r) { return a.DeliveryPayment_Changes(3, r, kAfternoon); }, "GET",
       "/api/deliverypayment/changes/3?since=2024-01-31+13%3A45%3A00", ""},
      {"Store_SetExternalID", [](ICourioAPI& a, std::string& r) { return a.Store_SetExternalID(7, "shop-7", r); },
       "POST", "/api/store/json/7", R"({"external_id":"shop-7"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_.ClearRequests();
    std::string response;
    EXPECT_TRUE(c.call(api_, response)) << response;
    EXPECT_FALSE(response.empty());
    EXPECT_EQ(api_.LastStatus(), 200);
    TJson all = sim_.Requests();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["method"], c.method);
    EXPECT_EQ(all[0]["target"], c.target);
    EXPECT_EQ(all[0]["body"], c.body);
    EXPECT_FALSE(all[0]["headers"].contains("Content-Type"));  // this transport has no content type
  }
}

TEST_F(CourioAPITest, RequestLinesAreLoggedAtTheirLevelsWithHashesMasked) {
  Seed();
  std::string r;
  api_.Driver_UpdatePassword(7, "PLINTH_12", "Secret1", r);
  api_.StoreDrivers_Add(7, 1, r);
  api_.Driver_ClockIn(7, "12", kNoon, r);
  api_.Driver_LeaveStore(7, "12", kNoon, r);
  api_.Driver_Return(7, "12", kNoon, r);
  api_.Store_SetExternalID(7, "shop-7", r);
  const std::pair<const char*, const char*> expected[] = {
      {"[TCourioAPI.Driver_UpdatePassword] Request : ",
       R"( info  [TCourioAPI.Driver_UpdatePassword] Request : {"driver_external_id":"PLINTH_12","password_hash":"***"})"},
      {"[TCourioAPI.StoreDrivers_Add] Request : ",
       R"( info  [TCourioAPI.StoreDrivers_Add] Request : {"store_id":7,"driver_id":1})"},
      {"[TCourioAPI.Driver_ClockIn] Request : ",
       R"( info  [TCourioAPI.Driver_ClockIn] Request : {"store_id":7,"driver_external_id":"PLINTH_12","timestamp":45292.5})"},
      {"[TCourioAPI.Driver_LeaveStore] Request : ", " info  [TCourioAPI.Driver_LeaveStore] Request : {"},
      {"[TCourioAPI.Driver_Return] Request : ", " info  [TCourioAPI.Driver_Return] Request : {"},
      {"[TCourioAPI.Store_SetExternalID] Request : ",
       R"( debug [TCourioAPI.Store_SetExternalID] Request : {"external_id":"shop-7"})"},
  };
  for (const auto& [marker, text] : expected) {
    auto lines = log_.LinesWith(marker);
    ASSERT_EQ(lines.size(), 1u) << marker;
    EXPECT_NE(lines[0].find(text), std::string::npos) << lines[0];
  }
  EXPECT_EQ(log_.Text().find("e52d98c459819a11775936d8dfbb7929"), std::string::npos);
  // Operations without a request line write none.
  EXPECT_TRUE(log_.LinesWith("[TCourioAPI.Driver_Add]").empty());
}

struct TFailCase {
  const char* name;
  TCall call;
  bool get;
  const char* levelTag;
};

const TFailCase kAllOperations[] = {
    {"GetClient", [](ICourioAPI& a, std::string& r) { return a.GetClient(1, r); }, true, " ERROR "},
    {"GetStores", [](ICourioAPI& a, std::string& r) { return a.GetStores(r); }, true, " ERROR "},
    {"GetDrivers", [](ICourioAPI& a, std::string& r) { return a.GetDrivers(r); }, true, " ERROR "},
    {"Driver_Add", [](ICourioAPI& a, std::string& r) { return a.Driver_Add("a", "b", "c", "PLINTH_1", r); }, false,
     " EXC   "},
    {"Driver_UpdatePassword", [](ICourioAPI& a, std::string& r) { return a.Driver_UpdatePassword(7, "P", "x", r); },
     false, " ERROR "},
    {"Order_Add", [](ICourioAPI& a, std::string& r) { return a.Order_Add("{}", r); }, false, " EXC   "},
    {"Delivery_Changes", [](ICourioAPI& a, std::string& r) { return a.Delivery_Changes(7, r, kNoon); }, true,
     " ERROR "},
    {"Delivery_AssignDriverExternal",
     [](ICourioAPI& a, std::string& r) { return a.Delivery_AssignDriverExternal(7, "1", kNoon, 5, r); }, false,
     " ERROR "},
    {"Delivery_UpdateStatus", [](ICourioAPI& a, std::string& r) { return a.Delivery_UpdateStatus(7, 5, 94, r); },
     false, " ERROR "},
    {"StoreDrivers_Add", [](ICourioAPI& a, std::string& r) { return a.StoreDrivers_Add(7, 1, r); }, false,
     " ERROR "},
    {"Driver_Changes", [](ICourioAPI& a, std::string& r) { return a.Driver_Changes(7, r, kNoon); }, true, " ERROR "},
    {"Driver_ClockIn", [](ICourioAPI& a, std::string& r) { return a.Driver_ClockIn(7, "1", kNoon, r); }, false,
     " ERROR "},
    {"Driver_LeaveStore", [](ICourioAPI& a, std::string& r) { return a.Driver_LeaveStore(7, "1", kNoon, r); }, false,
     " ERROR "},
    {"Driver_Return", [](ICourioAPI& a, std::string& r) { return a.Driver_Return(7, "1", kNoon, r); }, false,
     " ERROR "},
    {"DeliveryPayment_Changes", [](ICourioAPI& a, std::string& r) { return a.DeliveryPayment_Changes(1, r, kNoon); },
     true, " info  "},
    {"Store_SetExternalID", [](ICourioAPI& a, std::string& r) { return a.Store_SetExternalID(7, "x", r); }, false,
     " ERROR "},
};

TEST_F(CourioAPITest, ErrorStatusIsNotAcceptedAndOnlyPostsLogAndKeepTheResponse) {
  sim_.SetFailure({{"mode", "5xx"}, {"status", 503}, {"retry_after", 30}});
  const std::string entity = "{\"error\":\"simulated failure\"}";
  for (const auto& c : kAllOperations) {
    SCOPED_TRACE(c.name);
    std::string response = "caller's text";
    EXPECT_FALSE(c.call(api_, response));
    EXPECT_EQ(api_.LastStatus(), 503);
    EXPECT_EQ(api_.LastRetryAfter(), 30);
    auto lines = log_.LinesWith(std::string("[TCourioAPI.") + c.name + "] Error : ");
    if (c.get) {
      // The transport got an answer: the entity reaches the caller, no error line.
      EXPECT_EQ(response, entity);
      EXPECT_TRUE(lines.empty());
    } else {
      EXPECT_EQ(response, "caller's text");
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_NE(lines[0].find(std::string(c.levelTag) + "[TCourioAPI." + c.name + "] Error : " + entity),
                std::string::npos)
          << lines[0];
    }
  }
}

TEST_F(CourioAPITest, TransportFailureLogsEveryOperationsErrorAndKeepsTheResponse) {
  sim_.SetFailure({{"mode", "down"}});
  for (const auto& c : kAllOperations) {
    SCOPED_TRACE(c.name);
    std::string response = "caller's text";
    EXPECT_FALSE(c.call(api_, response));
    EXPECT_EQ(response, "caller's text");
    EXPECT_EQ(api_.LastStatus(), 0);
    auto lines = log_.LinesWith(std::string("[TCourioAPI.") + c.name + "] Error : ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(std::string(c.levelTag) + "[TCourioAPI." + c.name + "] Error : "), std::string::npos)
        << lines[0];
  }
}

TEST_F(CourioAPITest, AuthenticateReturnsTheClientIdAndLogsTheAnswer) {
  EXPECT_EQ(api_.Authenticate(), 1);
  auto lines = log_.LinesWith("[TCourioAPI.Authenticate] Reponse : ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" debug [TCourioAPI.Authenticate] Reponse : [{\"id\":1,"), std::string::npos);
  EXPECT_EQ(sim_.Requests()[0]["target"], "/api/client/json/");

  client_->SetCredentials(test::kSimUser, "wrong");
  EXPECT_EQ(api_.Authenticate(), -1);
}

TEST_F(CourioAPITest, AuthenticateGivesMinusOneForHostileOrMissingAnswers) {
  const char* kinds[] = {"huge", "huge_chunked", "utf8", "deep", "html", "truncated", "empty"};
  for (const char* kind : kinds) {
    SCOPED_TRACE(kind);
    sim_.SetFailure({{"mode", "malformed"}, {"kind", kind}});
    EXPECT_EQ(api_.Authenticate(), -1);
  }
  sim_.SetFailure({{"mode", "down"}});
  EXPECT_EQ(api_.Authenticate(), -1);
  sim_.SetFailure({{"mode", "5xx"}});
  EXPECT_EQ(api_.Authenticate(), -1);
  client_->SetBaseURL("http://127.0.0.1:" + std::to_string(test::UnusedPort()));
  EXPECT_EQ(api_.Authenticate(), -1);
}

// Answers every GET with a fixed body.
class TCannedServer {
 public:
  explicit TCannedServer(std::string body) : body_(std::move(body)) {
    server_.Get(".*", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(body_, "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 5000 && !server_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~TCannedServer() {
    server_.stop();
    thread_.join();
  }
  std::string BaseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  std::string body_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

TEST(CourioAPIAuthenticateTest, ReadsTheIdOfTheFirstElement) {
  struct {
    const char* body;
    int32_t id;
  } cases[] = {
      {R"([{"id":17},{"id":18}])", 17}, {R"([{"ID":"23"}])", 23}, {"[]", -1}, {"{}", -1}, {"42", -1}, {"null", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    TCannedServer server(c.body);
    auto client = std::make_shared<TRestClientCurl>();
    client->SetBaseURL(server.BaseURL());
    TCourioAPI api;
    api.SetRestClient(client);
    EXPECT_EQ(api.Authenticate(), c.id);
  }
  // A first element without an id is an error, not a silent -1.
  TCannedServer server(R"([{"name":"no id"}])");
  auto client = std::make_shared<TRestClientCurl>();
  client->SetBaseURL(server.BaseURL());
  TCourioAPI api;
  api.SetRestClient(client);
  EXPECT_THROW(api.Authenticate(), std::runtime_error);
}

TEST(PasswordHashTest, LowersOnlyAsciiLettersBeforeMd5) {
  struct {
    const char* password;
    const char* hash;
  } cases[] = {
      {"Secret1", "e52d98c459819a11775936d8dfbb7929"},
      {"sECRET1", "e52d98c459819a11775936d8dfbb7929"},
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"\xC3\x89t\xC3\xA9Pass", "87953f49e459f1a7163fb4fa54d0aa67"},  // "ÉtéPass": only the P changes
      {"1234", "81dc9bdb52d04dc20036dbd8313ed055"},
  };
  for (const auto& c : cases) EXPECT_EQ(PasswordHash(c.password), c.hash) << c.password;
}

TEST(CourioAPIRegistrationTest, EveryRequestYieldsANewClientThatNeedsATransport) {
  auto di = std::make_shared<TPlinthDI>();
  RegisterCourioAPI(*di);
  std::shared_ptr<ICourioAPI> a, b;
  ASSERT_TRUE(di->CreateInstance(a));
  ASSERT_TRUE(di->CreateInstance(b));
  EXPECT_NE(a, b);
  EXPECT_EQ(a->LastStatus(), 0);
  EXPECT_EQ(a->LastRetryAfter(), -1);
  std::string r;
  EXPECT_THROW(a->GetDrivers(r), std::logic_error);
  UnregisterCourioAPI(*di);
  EXPECT_FALSE(di->CreateInstance(a));
}

TEST(SinceParamTest, FormatsAndFormEncodesTheTime) {
  EXPECT_EQ(SinceParam(kAfternoon), "since=2024-01-31+13%3A45%3A00");
  EXPECT_EQ(SinceParam(kJan31), "since=2024-01-31+00%3A00%3A00");
}

}  // namespace
}  // namespace courio
