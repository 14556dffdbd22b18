// Invoices changed after they were rung up reach the cloud stand-in through the
// whole running service: collections turned into deliveries as orders,
// deliveries turned into collections and overrung deliveries as their status
// updates, each once, all changed in one burst within one second.
#include <gtest/gtest.h>

#include <map>

#include "integration/IntegrationSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

std::string External(int invoice) { return "plinth-" + std::to_string(invoice); }

// Runs pos-sim with `args` after the database path; its output lines.
std::vector<std::string> PosSim(const std::string& db, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {test::BuildDir() + "/pos-sim", args.front(), db};
  argv.insert(argv.end(), args.begin() + 1, args.end());
  test::ChildProcess p(argv);
  EXPECT_EQ(p.Wait(20s), 0) << p.Output();
  return test::SplitLines(p.Output());
}

TEST(InvoiceChangesTest, TransitionsAndOverringsReachTheCloudOnceAndReportedOrdersAreNotSentAgain) {
  test::TServiceOnStandIns env;
  env.StartService();
  // The last tracker is ready: every tracker's watermark lies before what follows.
  ASSERT_TRUE(test::WaitUntil([&] { return env.Log().find("Last ActivityID : ") != std::string::npos; }, 20s))
      << env.Log();

  // The collections come first: once the deliveries after them are
  // reported, the new-invoice tracker is past their numbers, so only the
  // collect-to-delivery tracker can report them.
  const int c1 = possim::RingInvoice(env.PosPath(), {.collection = true});
  const int c2 = possim::RingInvoice(env.PosPath(), {.collection = true});
  const int reported = possim::RingInvoice(env.PosPath());  // turned collection and back
  const int toCollect = possim::RingInvoice(env.PosPath());
  const int overrung = possim::RingInvoice(env.PosPath());
  auto orders = [&] { return env.Cloud().Get("/_sim/orders"); };
  auto order = [&](int invoice) {
    for (const auto& o : orders())
      if (o["external_id"] == External(invoice)) return o;
    return TJson();
  };
  ASSERT_TRUE(test::WaitUntil([&] { return orders().size() == 3; }, 40s)) << env.Log();

  // One burst, one second: two collections become deliveries, a delivery a
  // collection, an already reported delivery a collection and back again;
  // then one delivery is overrung twice.
  const auto n = [](int i) { return std::to_string(i); };
  PosSim(env.PosPath(), {"transtype", n(c1), "3", n(c2), "3", n(toCollect), "2", n(reported), "2", n(reported), "3"});
  std::vector<std::string> ids = PosSim(env.PosPath(), {"overring", n(overrung), n(overrung)});
  ASSERT_EQ(ids.size(), 2u);

  auto statuses = [&](int invoice) {
    std::vector<long long> out;
    const TJson o = order(invoice);
    for (const auto& u : JsonGet(o, "status_updates")) out.push_back(JsonAsInt(JsonGet(u, "status")));
    return out;
  };
  ASSERT_TRUE(test::WaitUntil([&] {
    return orders().size() == 5 && statuses(toCollect).size() == 1 && statuses(overrung).size() == 1;
  }, 60s)) << env.Log();
  // One more pass of each transition tracker reads the burst's rows again
  // (its watermark second) and must skip them all.
  const std::string c2dPass = "[TCourioEventTrackerCollectToDelivery.ThreadTask] Count : ";
  auto passes = [&] {
    std::string log = env.Log();
    size_t count = 0;
    for (size_t at = log.find(c2dPass); at != std::string::npos; at = log.find(c2dPass, at + 1)) ++count;
    return count;
  };
  const size_t seen = passes();
  ASSERT_TRUE(test::WaitUntil([&] { return passes() > seen; }, 25s)) << env.Log();
  ASSERT_TRUE(test::WaitUntil([&] { return env.StoreRows("SELECT ID FROM InvoiceEvent WHERE UploadStatus = 0").empty(); },
                              20s));

  // Every order arrived once; the two turned deliveries with the documents recorded for them.
  TJson posted = env.Received("POST", "/api/delivery/json");
  std::map<std::string, int> times;
  for (const auto& p : posted) times[JsonAsText(ParseJson(JsonAsText(p["body"]))["external_id"])]++;
  EXPECT_EQ(times, (std::map<std::string, int>{{External(reported), 1}, {External(toCollect), 1}, {External(overrung), 1},
                                               {External(c1), 1}, {External(c2), 1}}));
  for (int c : {c1, c2}) {
    TJson stored = env.StoreRows("SELECT EventType, EventData FROM InvoiceEvent WHERE InvoiceNum = " + n(c));
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(JsonAsInt(stored[0]["EventType"]), 1);
    TJson document = ParseJson(JsonAsText(stored[0]["EventData"]));
    EXPECT_EQ(order(c)["document"], document) << "the full order, as the cloud received it";
    EXPECT_FALSE(JsonAsText(document["delivery_details"]).empty());
    EXPECT_EQ(document["store_id"], "7");
  }
  // The status updates, once each, and none for the others.
  EXPECT_EQ(statuses(toCollect), std::vector<long long>{93});
  EXPECT_EQ(statuses(overrung), std::vector<long long>{94});
  for (int other : {reported, c1, c2}) EXPECT_TRUE(statuses(other).empty()) << other;
  EXPECT_EQ(env.Received("POST", "/api/delivery/updatestatus/7").size(), 2u);
  TJson overringEvent = env.StoreRows("SELECT EventData FROM InvoiceEvent WHERE EventType = 4");
  ASSERT_EQ(overringEvent.size(), 1u);
  EXPECT_EQ(JsonAsText(overringEvent[0]["EventData"]), "{\"ActivityID\":" + ids[0] + "}");
  for (int read : {c1, c2, reported})
    EXPECT_NE(env.Log().find("[TCourioEventTrackerCollectToDelivery.ThreadTask] Invoice : " + n(read)),
              std::string::npos)
        << read << " was read by the collect-to-delivery tracker (the reported one and passed over)";
  EXPECT_EQ(env.StopService(), 0);
}

}  // namespace
}  // namespace courio
