// cloud-sim, the executable, as the demo and the integration tests use it.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "CloudTestSupport.hpp"
#include "common/rest/RestClientCurl.hpp"
#include "common/util/DateTime.hpp"
#include "common/util/StrUtils.hpp"
#include "common/rest/URLPath.hpp"
#include "support/TestSupport.hpp"

namespace courio {
namespace {

using test::TSimProcess;

class CloudSimTest : public ::testing::Test {
 protected:
  void SetUp() override { Configure(client_); }
  void Configure(TRestClientCurl& c) {
    c.SetBaseURL(sim_.BaseURL());
    c.SetCredentials(test::kSimUser, test::kSimPassword);
  }
  TJson PostJson(const std::string& path, const TJson& body, int expectedStatus = 200) {
    std::string response;
    client_.Post(path, JsonDump(body), response);
    EXPECT_EQ(client_.LastStatus(), expectedStatus) << path << " " << response;
    TJson doc;
    TryParseJson(response, doc);
    return doc;
  }
  // A "?" in `path` starts the (ready-encoded) query.
  TJson GetJson(const std::string& path) {
    std::string response;
    size_t q = path.find('?');
    if (q == std::string::npos)
      EXPECT_TRUE(client_.Get(path, response));
    else
      EXPECT_TRUE(client_.Get(path.substr(0, q), response, {path.substr(q + 1)}, 1));
    EXPECT_EQ(client_.LastStatus(), 200) << path << " " << response;
    TJson doc;
    TryParseJson(response, doc);
    return doc;
  }
  TJson Order(const std::string& externalId) {
    for (const auto& o : sim_.Get("/_sim/orders"))
      if (o["external_id"] == externalId) return o;
    return nullptr;
  }

  TSimProcess sim_;
  TRestClientCurl client_;
};

TEST_F(CloudSimTest, EveryApiPathNeedsTheAccountsCredentials) {
  const std::pair<const char*, const char*> paths[] = {
      {"GET", "/api/client/json/"},         {"GET", "/api/client/json/1"},
      {"GET", "/api/store/json/"},          {"POST", "/api/store/json/7"},
      {"GET", "/api/driver/json/"},         {"POST", "/api/driver/json"},
      {"POST", "/api/driver/updatepassword/7"}, {"POST", "/api/storedrivers/json/"},
      {"POST", "/api/driver/clockin"},      {"POST", "/api/driver/leavestore"},
      {"POST", "/api/driver/atstore"},      {"POST", "/api/delivery/json"},
      {"GET", "/api/delivery/changes/7?since=2024-01-01+00%3A00%3A00"},
      {"POST", "/api/delivery/assignexternal/7"}, {"POST", "/api/delivery/updatestatus/7"},
      {"GET", "/api/driver/changes/7?since=2024-01-01+00%3A00%3A00"},
      {"GET", "/api/deliverypayment/changes/1?since=2024-01-01+00%3A00%3A00"},
  };
  const std::pair<std::string, std::string> wrong[] = {{"", ""}, {test::kSimUser, "nope"}, {"other", test::kSimPassword}};
  for (const auto& [user, password] : wrong) {
    TRestClientCurl c;
    c.SetBaseURL(sim_.BaseURL());
    c.SetCredentials(user, password);
    for (const auto& [method, path] : paths) {
      SCOPED_TRACE(std::string(method) + " " + path + " as '" + user + "'");
      std::string response;
      std::string target = path;
      size_t q = target.find('?');
      if (std::string(method) == "GET" && q != std::string::npos)
        c.Get(target.substr(0, q), response, {target.substr(q + 1)}, 1);
      else if (std::string(method) == "GET")
        c.Get(path, response);
      else
        c.Post(path, "{}", response);
      EXPECT_EQ(c.LastStatus(), 401);
    }
  }
  EXPECT_EQ(sim_.Get("/_sim/orders").size(), 0u);  // nothing was created
  // The right account reaches the same paths; unknown ones are 404.
  std::string response;
  EXPECT_TRUE(client_.Get("/api/client/json/", response));
  EXPECT_EQ(client_.LastStatus(), 200);
  client_.Get("/api/driver/json", response);  // the list has a trailing "/"
  EXPECT_EQ(client_.LastStatus(), 404);
  client_.Get("/api/client/json/99999999999999999999999", response);  // an id no integer holds
  EXPECT_EQ(client_.LastStatus(), 404);
  client_.Post("/api/store/json/99999999999999999999999", "{}", response);
  EXPECT_EQ(client_.LastStatus(), 500);
  EXPECT_EQ(sim_.Get("/_sim/health")["status"], "ok");
}

TEST_F(CloudSimTest, OrdersAreKeyedByExternalIdAndNeverDuplicated) {
  TJson first = PostJson("/api/delivery/json", {{"external_id", "plinth-5"}, {"store_id", "7"}});
  TJson again = PostJson("/api/delivery/json", {{"external_id", "plinth-5"}, {"store_id", "7"}, {"x", 1}});
  TJson other = PostJson("/api/delivery/json", {{"external_id", "plinth-6"}, {"store_id", "7"}});
  EXPECT_EQ(first["id"], again["id"]);
  EXPECT_NE(first["id"], other["id"]);
  PostJson("/api/delivery/json", {{"store_id", "7"}}, 400);
  std::string response;
  client_.Post("/api/delivery/json", "not json", response);
  EXPECT_EQ(client_.LastStatus(), 400);

  TJson orders = sim_.Get("/_sim/orders");
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_EQ(orders[0]["document"], TJson({{"external_id", "plinth-5"}, {"store_id", "7"}}));  // the first document
  // Every request is on record, refused ones included.
  EXPECT_EQ(sim_.Requests().size(), 5u);
}

TEST_F(CloudSimTest, DeliveryChangesListWhatChangedAfterSince) {
  PostJson("/api/delivery/json", {{"external_id", "plinth-1"}, {"store_id", "7"}});
  PostJson("/api/delivery/json", {{"external_id", "plinth-2"}, {"store_id", "7"}});
  PostJson("/api/delivery/json", {{"external_id", "plinth-3"}, {"store_id", "8"}});
  sim_.Post("/_sim/orders/plinth-1/assign", {{"driver_external_id", "PLINTH_4"}, {"timestamp", "2024-03-01T10:00:00"}});
  sim_.Post("/_sim/orders/plinth-1/dispatch", {{"timestamp", "2024-03-01T10:05:00"}});
  sim_.Post("/_sim/orders/plinth-2/deliver", {{"timestamp", "2024-03-01T10:10:00"}});
  sim_.Post("/_sim/orders/plinth-3/assign", {{"timestamp", "2024-03-01T11:00:00"}});

  TJson all = GetJson("/api/delivery/changes/7?since=2024-03-01+09%3A00%3A00");
  EXPECT_EQ(JsonDump(all),
            R"({"deliveries":[{"id":1,"external_id":"plinth-1","driver_external_id":"PLINTH_4",)"
            R"("timestamp_assigned":"2024-03-01T10:00:00","timestamp_dispatched":"2024-03-01T10:05:00",)"
            R"("timestamp_delivered":null},{"id":2,"external_id":"plinth-2","driver_external_id":null,)"
            R"("timestamp_assigned":null,"timestamp_dispatched":null,"timestamp_delivered":"2024-03-01T10:10:00"}],)"
            R"("since":"2024-03-01T10:10:00"})");
  // Strictly later only: plinth-1's last change equals since.
  TJson later = GetJson("/api/delivery/changes/7?since=2024-03-01+10%3A05%3A00");
  ASSERT_EQ(later["deliveries"].size(), 1u);
  EXPECT_EQ(later["deliveries"][0]["external_id"], "plinth-2");
  TJson none = GetJson("/api/delivery/changes/7?since=2024-03-01+10%3A10%3A00");
  EXPECT_EQ(none["deliveries"].size(), 0u);
  EXPECT_EQ(none["since"], "2024-03-01T10:10:00");

  sim_.SetFailure({{"mode", "nosince"}});
  TJson noSince = GetJson("/api/delivery/changes/7?since=2024-03-01+09%3A00%3A00");
  EXPECT_EQ(noSince["deliveries"].size(), 2u);
  EXPECT_FALSE(noSince.contains("since"));

  std::string response;
  client_.Get("/api/delivery/changes/7", response, {"since=yesterday"}, 1);
  EXPECT_EQ(client_.LastStatus(), 400);
}

TEST_F(CloudSimTest, ChangesStampedInTheSecondOfAPollAreStillReported) {
  PostJson("/api/delivery/json", {{"external_id", "plinth-1"}});
  sim_.Post("/_sim/orders/plinth-1/assign");
  std::string since = GetJson("/api/delivery/changes/7?since=2000-01-01+00%3A00%3A00")["since"];
  // Made right after the poll, usually within the same second.
  sim_.Post("/_sim/orders/plinth-1/dispatch");
  TJson next = GetJson("/api/delivery/changes/7?" + std::string("since=") + URLEncodeForm(ReplaceAll(since, "T", " ")));
  ASSERT_EQ(next["deliveries"].size(), 1u) << next.dump();
  EXPECT_GT(IsoToDateTime(next["deliveries"][0]["timestamp_dispatched"].get<std::string>()), IsoToDateTime(since));
}

TEST_F(CloudSimTest, DriversStatusesAndStoreLinks) {
  TJson added = PostJson("/api/driver/json", {{"first_name", "Ann"},
                                              {"last_name", "Lee"},
                                              {"current_status", -1},
                                              {"password_hash", "abc"},
                                              {"external_id", "PLINTH_7"}});
  EXPECT_EQ(PostJson("/api/driver/json", {{"external_id", "PLINTH_7"}})["id"], added["id"]);
  TJson list = GetJson("/api/driver/json/");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["id"], added["id"]);
  EXPECT_EQ(list[0]["first_name"], "Ann");
  EXPECT_EQ(list[0]["last_name"], "Lee");
  EXPECT_EQ(list[0]["external_id"], "PLINTH_7");
  EXPECT_EQ(list[0]["current_status"], -1);
  EXPECT_FALSE(list[0].contains("password_hash"));

  PostJson("/api/storedrivers/json/", {{"store_id", 7}, {"driver_id", added["id"]}});
  PostJson("/api/storedrivers/json/", {{"store_id", 7}, {"driver_id", 99}}, 404);
  PostJson("/api/driver/updatepassword/7", {{"driver_external_id", "PLINTH_7"}, {"password_hash", "def"}});
  PostJson("/api/driver/updatepassword/7", {{"driver_external_id", "PLINTH_8"}, {"password_hash", "def"}}, 404);

  // A status change from the control side, also for a driver not known yet.
  sim_.Post("/_sim/drivers/PLINTH_7/status", {{"status", 2}, {"timestamp", "2024-03-01T10:00:00"}});
  sim_.Post("/_sim/drivers/PLINTH_9/status", {{"status", 0}, {"timestamp", "2024-03-01T10:01:00"}});
  TJson changes = GetJson("/api/driver/changes/7?since=2024-03-01+10%3A00%3A00");
  EXPECT_EQ(JsonDump(changes),
            R"({"changes":[{"id":2,"external_id":"PLINTH_9","current_status":0,)"
            R"("timestamp_status":"2024-03-01T10:01:00"}],"since":"2024-03-01T10:01:00"})");
  EXPECT_EQ(GetJson("/api/driver/changes/7?since=2024-03-01+09%3A00%3A00")["changes"].size(), 2u);
  // Attached to store 7 only, so store 8 does not see PLINTH_7.
  EXPECT_EQ(GetJson("/api/driver/changes/8?since=2024-03-01+09%3A00%3A00")["changes"].size(), 1u);
}

TEST_F(CloudSimTest, PointOfSaleEventsAreRecorded) {
  PostJson("/api/delivery/json", {{"external_id", "plinth-1234"}});
  PostJson("/api/delivery/assignexternal/7",
           {{"external_id", "plinth-1234"}, {"driver_external_id", "PLINTH_12"}, {"timestamp", 45292.5}});
  PostJson("/api/delivery/assignexternal/7", {{"external_id", "plinth-9"}, {"driver_external_id", "PLINTH_12"}}, 404);
  PostJson("/api/delivery/updatestatus/7", {{"external_id", "plinth-1234"}, {"new_status", 93}});
  PostJson("/api/delivery/updatestatus/7", {{"external_id", "plinth-1234"}, {"new_status", 94}});
  PostJson("/api/delivery/updatestatus/7", {{"external_id", "plinth-9"}, {"new_status", 94}}, 404);
  PostJson("/api/driver/clockin", {{"store_id", 7}, {"driver_external_id", "PLINTH_12"}, {"timestamp", 45292.5}});
  PostJson("/api/driver/leavestore", {{"store_id", 7}, {"timestamp", 45292.5}}, 400);

  TJson order = Order("plinth-1234");
  EXPECT_EQ(order["pos_driver_external_id"], "PLINTH_12");
  EXPECT_EQ(order["pos_assigned"], "2024-01-01T12:00:00");
  EXPECT_EQ(order["status"], 94);
  ASSERT_EQ(order["status_updates"].size(), 2u) << "every update, in order";
  EXPECT_EQ(order["status_updates"][0]["status"], 93);
  EXPECT_EQ(order["status_updates"][1]["status"], 94);
  EXPECT_EQ(order["status_updates"][1]["store_id"], "7");
  EXPECT_FALSE(JsonAsText(order["status_updates"][1]["time"]).empty());
  TJson events = sim_.Get("/_sim/events");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["event"], "clockin");
  EXPECT_EQ(events[0]["driver_external_id"], "PLINTH_12");
  EXPECT_EQ(events[0]["time"], "2024-01-01T12:00:00");
}

TEST_F(CloudSimTest, ThePointOfSalesCallsMoveAKnownDriversStatus) {
  PostJson("/api/driver/json", {{"external_id", "PLINTH_5"}, {"current_status", -1}});
  auto call = [&](const char* kind, const char* driver) {
    PostJson(std::string("/api/driver/") + kind,
             {{"store_id", 7}, {"driver_external_id", driver}, {"timestamp", 45292.5}});
  };
  // Each call and the status it leaves; a working driver stays as he is on a clock-in.
  const std::pair<const char*, int> steps[] = {{"clockin", 0}, {"clockin", 0}, {"leavestore", 2}, {"clockin", 2},
                                               {"atstore", 0}, {"atstore", 0}};
  for (const auto& [kind, status] : steps) {
    call(kind, "PLINTH_5");
    EXPECT_EQ(sim_.Get("/_sim/drivers")[0]["current_status"], status) << kind;
  }
  std::vector<std::string> history;
  const TJson drivers = sim_.Get("/_sim/drivers");
  for (const auto& h : drivers[0]["history"])
    history.push_back(std::to_string(h["status"].get<int>()) + " " + h["by"].get<std::string>());
  EXPECT_EQ(history, (std::vector<std::string>{"0 clockin", "2 leavestore", "0 atstore"})) << "changes only";
  TJson changes = GetJson("/api/driver/changes/7?since=2024-01-01+00%3A00%3A00")["changes"];
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0]["current_status"], 0);
  EXPECT_EQ(changes[0]["timestamp_status"], sim_.Get("/_sim/drivers")[0]["history"][2]["time"]);

  call("clockin", "PLINTH_6");  // a driver the cloud does not know: recorded, not created
  EXPECT_EQ(sim_.Get("/_sim/drivers").size(), 1u);
  EXPECT_EQ(sim_.Get("/_sim/events").back()["known_driver"], false);
}

TEST_F(CloudSimTest, FailureModesCanBeLimitedToSomeRequests) {
  sim_.SetFailure({{"mode", "5xx"}, {"status", 502}, {"count", 2}});
  std::string response;
  client_.Get("/api/client/json/", response);
  EXPECT_EQ(client_.LastStatus(), 502);
  client_.Get("/api/client/json/", response);
  EXPECT_EQ(client_.LastStatus(), 502);
  client_.Get("/api/client/json/", response);
  EXPECT_EQ(client_.LastStatus(), 200);
  EXPECT_EQ(sim_.Get("/_sim/failure")["mode"], "none");
  sim_.SetFailure({{"mode", "4xx"}});
  client_.Get("/api/client/json/", response);
  EXPECT_EQ(client_.LastStatus(), 400);
  EXPECT_EQ(sim_.Requests().size(), 4u);
  EXPECT_THROW(sim_.SetFailure({{"mode", "sideways"}}), std::runtime_error);
}

TEST(CloudSimProcessTest, AutoProgressMovesOrdersThroughTheirStepsWithKnownDrivers) {
  TSimProcess sim({"--auto-progress", "1"});
  TRestClientCurl client;
  client.SetBaseURL(sim.BaseURL());
  client.SetCredentials(test::kSimUser, test::kSimPassword);
  std::string r;
  ASSERT_TRUE(client.Post("/api/driver/json", R"({"external_id":"PLINTH_9","first_name":"Z"})", r));
  ASSERT_TRUE(client.Post("/api/delivery/json", R"({"external_id":"plinth-1"})", r));
  ASSERT_TRUE(client.Post("/api/delivery/json", R"({"external_id":"plinth-2"})", r));
  ASSERT_TRUE(client.Post("/api/delivery/updatestatus/7", R"({"external_id":"plinth-2","new_status":93})", r));

  // Three steps at one per second; waits for the line, asserts nothing on speed.
  ASSERT_FALSE(sim.WaitForLine("order plinth-1 delivered", std::chrono::seconds(30)).empty());
  TJson orders = sim.Get("/_sim/orders");
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_EQ(orders[0]["driver_external_id"], "PLINTH_9");
  TDateTime a = IsoToDateTime(orders[0]["timestamp_assigned"].get<std::string>());
  TDateTime p = IsoToDateTime(orders[0]["timestamp_dispatched"].get<std::string>());
  TDateTime d = IsoToDateTime(orders[0]["timestamp_delivered"].get<std::string>());
  EXPECT_LE(a, p);
  EXPECT_LE(p, d);
  // Turned into a collection: left alone.
  EXPECT_TRUE(orders[1]["timestamp_assigned"].is_null());
  EXPECT_FALSE(sim.WaitForLine("order plinth-1 assigned to PLINTH_9", std::chrono::seconds(0)).empty());
}

TEST(CloudSimProcessTest, DriverCycleSendsDriversOfThePosOnTheRoadAndBack) {
  TSimProcess sim({"--driver-cycle", "1"});
  sim.Post("/_sim/drivers/PLINTH_8/status", {{"status", 0}});
  sim.Post("/_sim/drivers/OTHER_1/status", {{"status", 0}});
  sim.Post("/_sim/drivers/PLINTH_9/status", {{"status", -1}});
  // Waits for two timer steps; asserts nothing on speed.
  ASSERT_FALSE(sim.WaitForLine("driver PLINTH_8 status 0 at", std::chrono::seconds(30)).empty());
  std::vector<std::string> steps;
  ASSERT_TRUE(test::WaitUntil([&] {
    steps.clear();
    for (const auto& d : sim.Get("/_sim/drivers"))
      if (d["external_id"] == "PLINTH_8")
        for (const auto& h : d["history"])
          steps.push_back(std::to_string(h["status"].get<int>()) + " " + h["by"].get<std::string>());
    return steps.size() >= 3;
  }, std::chrono::seconds(30)));
  EXPECT_FALSE(sim.WaitForLine("driver PLINTH_8 status 2 at", std::chrono::seconds(0)).empty());
  EXPECT_EQ(std::vector<std::string>(steps.begin(), steps.begin() + 3),
            (std::vector<std::string>{"0 sim", "2 auto", "0 auto"}));
  for (const auto& d : sim.Get("/_sim/drivers"))
    if (d["external_id"] != "PLINTH_8") {
      EXPECT_EQ(d["history"].size(), 1u) << d["external_id"];
    }
}

TEST(CloudSimProcessTest, PrintsOneLinePerEventAndStopsCleanlyOnSigterm) {
  TSimProcess sim;
  TRestClientCurl client;
  client.SetBaseURL(sim.BaseURL());
  client.SetCredentials(test::kSimUser, test::kSimPassword);
  std::string r;
  ASSERT_TRUE(client.Post("/api/delivery/json", R"({"external_id":"plinth-5","store_id":"7"})", r));
  ASSERT_TRUE(client.Post("/api/driver/clockin", R"({"store_id":7,"driver_external_id":"PLINTH_3","timestamp":45292.5})", r));
  EXPECT_FALSE(sim.WaitForLine("order plinth-5 received (id 1, store 7)", std::chrono::seconds(5)).empty());
  EXPECT_FALSE(sim.WaitForLine("driver PLINTH_3 clockin at 2024-01-01T12:00:00", std::chrono::seconds(5)).empty());
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.Output().front().rfind("listening on ", 0), 0u);
}

// Exit code of cloud-sim run with `args` (output discarded).
int RunSimExpectingExit(std::vector<std::string> args) {
  std::string exe = std::string(COURIO_BUILD_DIR) + "/cloud-sim";
  args.insert(args.begin(), exe);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CloudSimProcessTest, RefusesBadCommandLines) {
  EXPECT_EQ(RunSimExpectingExit({"--user", "u"}), 2);                      // no port
  EXPECT_EQ(RunSimExpectingExit({"--port", "0"}), 2);                      // no user
  EXPECT_EQ(RunSimExpectingExit({"--port", "70000", "--user", "u"}), 2);   // port out of range
  EXPECT_EQ(RunSimExpectingExit({"--port", "0", "--user", "u", "--x", "1"}), 2);
  EXPECT_EQ(RunSimExpectingExit({"--port", "0", "--user", "u", "--bind", "not-an-address"}), 1);
  EXPECT_EQ(RunSimExpectingExit({"--help"}), 0);
}

}  // namespace
}  // namespace courio
