// The transition and overring trackers on their own worker threads, beside
// the new-invoice tracker, against the embedded POS and one shared store.
#include <gtest/gtest.h>

#include <thread>

#include "pos/PosTestSupport.hpp"
#include "pos/implPlinthInvoices.hpp"
#include "store/clsCourioData.hpp"
#include "support/StoreSupport.hpp"
#include "trackers/implCourioEventTrackerCollectToDelivery.hpp"
#include "trackers/implCourioEventTrackerDeliveryToCollect.hpp"
#include "trackers/implCourioEventTrackerInvoiceOverring.hpp"
#include "trackers/implCourioEventTrackerNewInvoice.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

class InvoiceChangeThreadsTest : public test::PosFixture {
 protected:
  void SetUp() override {
    PosFixture::SetUp();
    RegisterPlinthInvoices(*container);
    store_ = std::make_shared<TCourioDataStore>(storeDir_.File("CourioSvc.db3"));
    container->AddInstance<ICourioDataStore>(store_);
    test::AddSettingsRow(*store_, "Store", {{"id", 17}});
  }
  size_t Count(const std::string& where) {
    TJson rows = ParseJson(store_->GetDatabase().ExecuteJSON("SELECT ID FROM InvoiceEvent WHERE " + where));
    return rows.is_array() ? rows.size() : 0;
  }

  test::TempDir storeDir_;
  test::LogCapture log_;
  std::shared_ptr<TCourioDataStore> store_;
};

TEST_F(InvoiceChangeThreadsTest, TheyRunOnTheirWorkerThreadsAndOneInvoiceGetsOneOrder) {
  const int delivery = possim::RingInvoice(dbPath);
  const int overrung = possim::RingInvoice(dbPath);
  const int collection = possim::RingInvoice(dbPath, {.collection = true});
  std::vector<std::shared_ptr<TCourioEventTracker>> trackers = {
      std::make_shared<TCourioEventTrackerNewInvoice>(), std::make_shared<TCourioEventTrackerCollectToDelivery>(),
      std::make_shared<TCourioEventTrackerDeliveryToCollect>(), std::make_shared<TCourioEventTrackerInvoiceOverring>()};
  for (auto& t : trackers) t->Initialise();
  // The new-invoice tracker is seeded past them all, so it leaves these
  // three alone; the transitions start from the next second on.
  std::this_thread::sleep_for(1100ms);
  possim::ChangeTransTypes(dbPath, {{delivery, 2}, {collection, 3}});
  possim::OverringInvoice(dbPath, overrung);
  // A collection rung up now and turned into a delivery is a new delivery
  // for one tracker and a transition for the other: one order all the same.
  const int both = possim::RingInvoice(dbPath, {.collection = true});
  possim::ChangeTransType(dbPath, both, 3);

  for (auto& t : trackers) t->Start();
  const bool done = test::WaitUntil([&] { return Count("1 = 1") == 4; }, 10s);
  for (auto& t : trackers) t->Stop();
  for (auto& t : trackers) t->Finalise();
  ASSERT_TRUE(done) << log_.Text();
  EXPECT_EQ(Count("InvoiceNum = " + std::to_string(delivery) + " AND EventType = 3"), 1u);
  EXPECT_EQ(Count("InvoiceNum = " + std::to_string(collection) + " AND EventType = 1"), 1u);
  EXPECT_EQ(Count("InvoiceNum = " + std::to_string(overrung) + " AND EventType = 4"), 1u);
  EXPECT_EQ(Count("InvoiceNum = " + std::to_string(both) + " AND EventType = 1"), 1u);
}

}  // namespace
}  // namespace courio
