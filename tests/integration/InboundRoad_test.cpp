// Deliveries moved on in the cloud stand-in come back into the POS invoices
// through the running service.
#include <gtest/gtest.h>

#include "integration/IntegrationSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

TEST(InboundRoadTest, AssignDispatchAndDeliverInTheCloudUpdateTheInvoiceAndAreRecorded) {
  test::TServiceOnStandIns env;
  int link = possim::ClockIn(env.PosPath(), "0042");
  env.StartService();
  ASSERT_TRUE(test::WaitUntil([&] { return env.Log().find("Last Invoice : ") != std::string::npos; }, 20s));
  int invoice = possim::RingInvoice(env.PosPath());
  std::string order = "/_sim/orders/plinth-" + std::to_string(invoice);
  ASSERT_TRUE(test::WaitUntil([&] { return env.Received("POST", "/api/delivery/json").size() == 1; }, 40s))
      << env.Log();

  env.Cloud().Post(order + "/assign", {{"driver_external_id", "PLINTH_0042"}});
  env.Cloud().Post(order + "/dispatch");
  env.Cloud().Post(order + "/deliver");
  TJson cloudOrder = env.Cloud().Get(order);
  ASSERT_TRUE(test::WaitUntil([&] {
    return env.StoreRows("SELECT ID FROM RemoteEvent").size() == 3;
  }, 40s)) << env.Log();

  TJson events = env.StoreRows("SELECT InvoiceNum, EventType, Timestamp, AppliedStatus, AppliedTimestamp FROM RemoteEvent ORDER BY ID");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(JsonAsInt(events[i]["InvoiceNum"]), invoice);
    EXPECT_EQ(JsonAsInt(events[i]["EventType"]), i + 1);
    EXPECT_EQ(JsonAsInt(events[i]["AppliedStatus"]), 1);
    EXPECT_FALSE(JsonAsText(events[i]["AppliedTimestamp"]).empty());
  }
  TJson row = ParseJson(possim::ShowInvoice(env.PosPath(), invoice));
  auto at = [&](const char* key) { return JsonAsText(JsonGet(row, key)); };
  EXPECT_EQ(at("Driver"), "0042");
  EXPECT_EQ(JsonAsInt(JsonGet(row, "DriverLink")), link);
  // The POS holds the cloud's own times, to the second.
  EXPECT_EQ(DateTimeToIso(IsoToDateTime(at("TimeToDrvr"))), JsonAsText(events[0]["Timestamp"]));
  EXPECT_EQ(DateTimeToIso(IsoToDateTime(at("TimeStampDriver"))), JsonAsText(events[1]["Timestamp"]));
  EXPECT_EQ(DateTimeToIso(IsoToDateTime(at("TIMEATCUST"))), JsonAsText(events[2]["Timestamp"]));
  EXPECT_EQ(env.StopService(), 0);
}

}  // namespace
}  // namespace courio
