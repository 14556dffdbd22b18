// The driver road through the running service: attendance and hand-overs at
// the POS reach the cloud stand-in, and the cloud's driver statuses come back
// into the POS attendance.
#include <gtest/gtest.h>

#include <cmath>

#include "integration/IntegrationSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

// The employee's latest attendance row as the POS stores it; null when none.
TJson Attendance(test::TServiceOnStandIns& env, const std::string& empNum) {
  try {
    return ParseJson(possim::ShowAttendance(env.PosPath(), empNum));
  } catch (const std::runtime_error&) {
    return nullptr;
  }
}

// The body of the only request to `path` (a failed expectation otherwise).
TJson OnlyBody(test::TServiceOnStandIns& env, const std::string& path) {
  TJson received = env.Received("POST", path);
  EXPECT_EQ(received.size(), 1u) << path;
  return received.empty() ? TJson() : ParseJson(JsonAsText(received[0]["body"]));
}

// A cloud date-time (day count) is the POS time to the millisecond.
void ExpectSameTime(const TJson& dayCount, const TJson& posTime) {
  ASSERT_TRUE(dayCount.is_number()) << dayCount;
  EXPECT_EQ(std::llround(dayCount.get<double>() * kMsPerDay),
            std::llround(IsoToDateTime(JsonAsText(posTime)) * kMsPerDay))
      << posTime;
}

TEST(DriverRoadTest, ClockInDeliveriesAndHandOversAtThePosReachTheCloud) {
  test::TServiceOnStandIns env;
  env.StartService();
  // Both trackers have looked at the POS once: what exists now is known.
  ASSERT_TRUE(test::WaitUntil([&] {
    std::string log = env.Log();
    return log.find("[TCourioEventTrackerDriverEvents.Initialise] Drivers : 3") != std::string::npos &&
           log.find("Last Invoice : ") != std::string::npos;
  }, 20s)) << env.Log();

  possim::ClockIn(env.PosPath(), "0044");
  const int invoice = possim::RingInvoice(env.PosPath());
  const std::string order = "plinth-" + std::to_string(invoice);

  // The order reaches the cloud; then the POS hands it to the driver.
  ASSERT_TRUE(test::WaitUntil([&] { return env.Received("POST", "/api/delivery/json").size() == 1; }, 40s))
      << env.Log();
  possim::AssignDriver(env.PosPath(), invoice, "0044");
  // The clock-in reaches the cloud with the attendance row's time; then the
  // driver leaves on a delivery.
  ASSERT_TRUE(test::WaitUntil([&] { return env.Received("POST", "/api/driver/clockin").size() == 1; }, 40s))
      << env.Log();
  TJson clockIn = OnlyBody(env, "/api/driver/clockin");
  EXPECT_EQ(clockIn["store_id"], env.StoreId());
  EXPECT_EQ(clockIn["driver_external_id"], "PLINTH_0044");
  ExpectSameTime(clockIn["timestamp"], Attendance(env, "0044")["InDateTime"]);
  possim::SetOnDelivery(env.PosPath(), "0044", true);

  ASSERT_TRUE(test::WaitUntil([&] {
    return env.Received("POST", "/api/driver/leavestore").size() == 1 &&
           env.Received("POST", "/api/delivery/assignexternal/7").size() == 1;
  }, 40s)) << env.Log();
  EXPECT_EQ(OnlyBody(env, "/api/driver/leavestore")["driver_external_id"], "PLINTH_0044");
  TJson handOver = OnlyBody(env, "/api/delivery/assignexternal/7");
  EXPECT_EQ(handOver["external_id"], order);
  EXPECT_EQ(handOver["driver_external_id"], "PLINTH_0044");
  ExpectSameTime(handOver["timestamp"], ParseJson(possim::ShowInvoice(env.PosPath(), invoice))["TimeToDrvr"]);
  TJson orders = env.Cloud().Get("/_sim/orders");
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0]["pos_driver_external_id"], "PLINTH_0044");

  // Back at the store.
  possim::SetOnDelivery(env.PosPath(), "0044", false);
  ASSERT_TRUE(test::WaitUntil([&] { return env.Received("POST", "/api/driver/atstore").size() == 1; }, 40s))
      << env.Log();
  EXPECT_EQ(OnlyBody(env, "/api/driver/atstore")["driver_external_id"], "PLINTH_0044");
  ASSERT_TRUE(test::WaitUntil([&] {
    return env.StoreRows("SELECT ID FROM DriverEvent WHERE UploadStatus = 1").size() == 3;
  }, 10s));
  TJson events = env.StoreRows("SELECT EmpNum, EventType FROM DriverEvent ORDER BY ID");
  EXPECT_EQ(JsonDump(events), R"([{"EmpNum":"0044","EventType":1},{"EmpNum":"0044","EventType":2},)"
                              R"({"EmpNum":"0044","EventType":3}])");
  EXPECT_EQ(env.StopService(), 0);
}

TEST(DriverRoadTest, TheCloudsStatusesClockTheDriverInAndSendHimOnTheRoad) {
  test::TServiceOnStandIns env;
  // The cloud has the driver at the store although he never clocked in today.
  TJson atStore = env.Cloud().Post("/_sim/drivers/PLINTH_0043/status", {{"status", 0}});
  env.StartService();

  ASSERT_TRUE(test::WaitUntil([&] { return !Attendance(env, "0043").is_null(); }, 40s)) << env.Log();
  TJson row = Attendance(env, "0043");
  EXPECT_EQ(DateTimeToIso(IsoToDateTime(JsonAsText(row["InDateTime"]))), JsonAsText(atStore["timestamp_status"]))
      << "clocked in at the cloud's time";
  EXPECT_EQ(row["OnDelivery"], 0);
  EXPECT_EQ(row["OdoStart"], 0);
  EXPECT_EQ(row["Float"], 0);

  env.Cloud().Post("/_sim/drivers/PLINTH_0043/status", {{"status", 2}});
  ASSERT_TRUE(test::WaitUntil([&] { return Attendance(env, "0043")["OnDelivery"] == 1; }, 40s)) << env.Log();
  EXPECT_EQ(JsonAsInt(Attendance(env, "0043")["InvoiceLink"]), JsonAsInt(row["InvoiceLink"])) << "the same row";
  EXPECT_NE(env.Log().find("[TCourioEventTrackerRemoteDriverChanges.ThreadTask] Setting Driver : 0043 to OnDelivery"),
            std::string::npos);
  EXPECT_EQ(env.StopService(), 0);
}

}  // namespace
}  // namespace courio
