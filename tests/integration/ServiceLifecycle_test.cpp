// The service as a real process on the stand-ins: its start and stop lines,
// and stopping while the POS is unreachable.
#include <gtest/gtest.h>

#include "integration/IntegrationSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Messages(const std::string& log) {
  std::vector<std::string> out;
  for (const auto& line : test::SplitLines(log))
    if (line.size() >= 24 && line[8] == ' ' && std::isdigit(static_cast<unsigned char>(line[0])))
      out.push_back(line.substr(24));
  return out;
}

size_t IndexOf(const std::vector<std::string>& m, const std::string& line) {
  return static_cast<size_t>(std::find(m.begin(), m.end(), line) - m.begin());
}

TEST(ServiceLifecycleTest, ANormalStartAndStopLogsTheLinesInOrderAndCreatesTheStore) {
  test::TServiceOnStandIns env;
  env.StartService();
  ASSERT_TRUE(test::WaitUntil([&] { return env.Log().find("[TCourioBackend.Start] Starting Backend") != std::string::npos; }, 20s))
      << env.Log();
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(env.StopService(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms);
  auto m = Messages(env.Log());
  std::vector<std::string> order = {
      "--------- COURIO SERVICE ---------",
      "[TsvcCourio.NtServiceStart] Starting Service",
      "[TsvcCourio.NtServiceExecute] Starting Execute",
      "[TCourioBackend.Initialise] Initialising Backend",
      "[TCourioBackend.Initialise] Make sure we can connect to the DB",
      "[TCourioBackend.Initialise] Connecting to local DB",
      "[TCourioBackend.Initialise] Create the Event Trackers",
      "[TCourioBackend.Initialise] Creating Event Tracker : NewInvoice",
      "[TCourioBackend.Start] Starting Backend",
      "[TsvcCourio.NtServiceStop] Stopping Service",
      "[TsvcCourio.NtServiceStop] Stopping Backend",
      "[TCourioBackend.Stop] Stopping Backend",
      "[TsvcCourio.NtServiceStop] Finalising Backend",
      "[TCourioBackend.Finalise] Finalising Backend",
      "[TsvcCourio.NtServiceExecute] Stopping Execute",
      "Courio Service Ending",
  };
  size_t last = 0;
  for (const auto& line : order) {
    size_t at = IndexOf(m, line);
    ASSERT_LT(at, m.size()) << "missing: " << line;
    EXPECT_GE(at, last) << "out of order: " << line;
    last = at;
  }
  auto tables = env.StoreRows("SELECT name FROM sqlite_master WHERE type='table' AND name <> 'sqlite_sequence' ORDER BY name");
  EXPECT_EQ(JsonDump(tables), R"([{"name":"DriverEvent"},{"name":"InvoiceEvent"},{"name":"RemoteEvent"},{"name":"Settings"}])");
}

TEST(ServiceLifecycleTest, APausedServiceKeepsItsWorkersRunningAndStillStops) {
  test::TServiceOnStandIns env;
  env.StartService();
  ASSERT_TRUE(test::WaitUntil([&] { return env.Log().find("[TCourioBackend.Start] Starting Backend") != std::string::npos; }, 20s));
  env.Signal(SIGUSR1);  // pause: only the service thread waits
  std::this_thread::sleep_for(200ms);
  possim::RingInvoice(env.PosPath());
  ASSERT_TRUE(test::WaitUntil([&] { return env.Received("POST", "/api/delivery/json").size() == 1; }, 40s))
      << "the tracker and the uploader went on while paused\n" << env.Log();
  env.Signal(SIGUSR2);  // continue
  env.Signal(SIGUSR1);  // and pause again: a stop request still ends the service
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(env.StopService(), 0);
  EXPECT_NE(env.Log().find("[TsvcCourio.NtServiceExecute] Stopping Execute"), std::string::npos);
}

TEST(ServiceLifecycleTest, WithThePosUnreachableEachAttemptIsLoggedAndSigtermStillStopsWithinASecond) {
  test::TServiceOnStandIns env;
  std::filesystem::remove(env.PosPath());  // the registry names a database that is not there
  env.StartService();
  ASSERT_TRUE(test::WaitUntil([&] {
    auto m = Messages(env.Log());
    return std::count_if(m.begin(), m.end(), [](const std::string& l) {
             return l.rfind("[TCourioBackend.Initialise] Error : ", 0) == 0;
           }) >= 4;
  }, 20s)) << env.Log();
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(env.StopService(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  auto m = Messages(env.Log());
  size_t wait = IndexOf(m, "[TCourioBackend.Initialise] Make sure we can connect to the DB");
  ASSERT_LT(wait, m.size());
  EXPECT_EQ(IndexOf(m, "[TCourioBackend.Initialise] Connecting to local DB"), m.size()) << "nothing else was built";
  EXPECT_LT(IndexOf(m, "Courio Service Ending"), m.size());
  EXPECT_FALSE(std::filesystem::exists(env.StorePath() + "-wal"));
}

}  // namespace
}  // namespace courio
