// A delivery rung up in the POS reaches the cloud stand-in through the whole
// running service: tracker, local store, uploader, transport.
#include <gtest/gtest.h>

#include "integration/IntegrationSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

std::string OrderBodyOf(const TJson& request) { return JsonAsText(JsonGet(request, "body")); }

TEST(OutboundRoadTest, DeliveriesArriveWithTheirExactDocumentCollectionsDoNotAndLateItemsWait) {
  test::TServiceOnStandIns env;
  env.StartService();
  // The tracker seeds itself from the existing invoices on its first start.
  ASSERT_TRUE(test::WaitUntil([&] { return env.Log().find("Last Invoice : ") != std::string::npos; }, 20s)) << env.Log();

  int collection = possim::RingInvoice(env.PosPath(), {.collection = true});
  int late = possim::RingInvoice(env.PosPath(), {.noItems = true});
  int delivery = possim::RingInvoice(env.PosPath());
  ASSERT_TRUE(test::WaitUntil([&] { return env.Log().find("has no line items") != std::string::npos; }, 30s))
      << env.Log();
  possim::AddLineItems(env.PosPath(), late);

  ASSERT_TRUE(test::WaitUntil([&] { return env.Received("POST", "/api/delivery/json").size() == 2; }, 60s))
      << env.Log();
  TJson orders = env.Received("POST", "/api/delivery/json");
  TJson events = env.StoreRows("SELECT InvoiceNum, EventData, UploadStatus, UploadTimestamp FROM InvoiceEvent ORDER BY ID");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(JsonAsInt(events[0]["InvoiceNum"]), late) << "the late invoice keeps its place";
  EXPECT_EQ(JsonAsInt(events[1]["InvoiceNum"]), delivery);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(OrderBodyOf(orders[i]), JsonAsText(events[i]["EventData"])) << "the stored document, byte for byte";
    ASSERT_TRUE(test::WaitUntil([&] {
      return JsonAsInt(env.StoreRows("SELECT UploadStatus FROM InvoiceEvent ORDER BY ID")[i]["UploadStatus"]) == 1;
    }, 10s));
  }
  TJson lateDoc = ParseJson(OrderBodyOf(orders[0]));
  EXPECT_EQ(lateDoc["external_id"], "plinth-" + std::to_string(late));
  EXPECT_FALSE(JsonAsText(lateDoc["delivery_details"]).empty()) << "sent with its line items";
  for (const auto& o : orders)
    EXPECT_NE(OrderBodyOf(o).find("\"store_id\":\"7\""), std::string::npos);
  EXPECT_TRUE(env.StoreRows("SELECT * FROM InvoiceEvent WHERE InvoiceNum = " + std::to_string(collection)).empty());
  EXPECT_EQ(env.StopService(), 0);
}

TEST(OutboundRoadTest, WhileTheCloudIsDownNothingIsMarkedSentAndEverythingArrivesOnceInOrderAfterwards) {
  test::TServiceOnStandIns env;
  env.Cloud().SetFailure({{"mode", "down"}});
  env.StartService();
  ASSERT_TRUE(test::WaitUntil([&] { return env.Log().find("Last Invoice : ") != std::string::npos; }, 20s));
  std::vector<int> rung;
  for (int i = 0; i < 3; ++i) rung.push_back(possim::RingInvoice(env.PosPath()));
  ASSERT_TRUE(test::WaitUntil([&] { return env.StoreRows("SELECT ID FROM InvoiceEvent").size() == 3; }, 30s))
      << env.Log();
  std::this_thread::sleep_for(4s);  // the uploader has tried and failed meanwhile
  EXPECT_TRUE(env.StoreRows("SELECT ID FROM InvoiceEvent WHERE UploadStatus <> 0").empty())
      << "nothing is marked sent while the cloud is down";

  // From here on every request reaches a working cloud (the uploader is
  // backing off, so none is in flight while the log is cleared).
  env.Cloud().ClearRequests();
  env.Cloud().SetFailure({{"mode", "none"}});
  ASSERT_TRUE(test::WaitUntil([&] {
    return env.StoreRows("SELECT ID FROM InvoiceEvent WHERE UploadStatus = 1").size() == 3;
  }, 90s)) << env.Log();
  TJson orders = env.Received("POST", "/api/delivery/json");
  ASSERT_EQ(orders.size(), 3u) << "none twice";
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(JsonAsText(ParseJson(OrderBodyOf(orders[i]))["external_id"]), "plinth-" + std::to_string(rung[i]));
  EXPECT_EQ(env.StopService(), 0);
}

}  // namespace
}  // namespace courio
