// A failing POS does not make the transition and overring trackers hammer it:
// their passes are spaced by the gap (the transition trackers write
// "LastCheck" after a failed pass) or by a back-off growing from 100 ms to the
// gap (the overring tracker does not).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "common/di/clsDIFactory.hpp"
#include "common/di/implDI.hpp"
#include "store/clsCourioData.hpp"
#include "support/FakeDBManager.hpp"
#include "support/StoreSupport.hpp"
#include "support/TestSupport.hpp"
#include "trackers/implCourioEventTrackerCollectToDelivery.hpp"
#include "trackers/implCourioEventTrackerDeliveryToCollect.hpp"
#include "trackers/implCourioEventTrackerInvoiceOverring.hpp"

namespace courio {
namespace {

TEST(InvoiceChangeBackoffTest, AFailingPosIsAskedAgainOnlyAfterAGrowingDelay) {
  struct Case {
    const char* name;
    std::function<std::shared_ptr<TCourioEventTracker>()> make;
    double firstDelay;  // seconds from a failed pass to the next one
    double lastDelay;   // the delay once it stopped growing
  };
  const Case cases[] = {
      {"CollectToDelivery", [] { return std::make_shared<TCourioEventTrackerCollectToDelivery>(); }, 16, 16},
      {"DeliveryToCollect", [] { return std::make_shared<TCourioEventTrackerDeliveryToCollect>(); }, 16, 16},
      {"InvoiceOverring", [] { return std::make_shared<TCourioEventTrackerInvoiceOverring>(); }, 0.1, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    test::LogCapture log;
    std::atomic<TDateTime> now{EncodeDateTime(2024, 3, 5, 14, 0, 0)};
    SetClockForTesting([&] { return now.load(); });
    auto di = std::make_shared<TPlinthDI>();
    auto db = std::make_shared<test::TFakeDBManager>();
    di->AddNamedFactory(IDBManager::IID, "plinth",
                        std::make_shared<TPlinthFnFactory>([db] { return std::static_pointer_cast<IInterface>(db); }));
    auto store = std::make_shared<TCourioDataStore>(dir.File("CourioSvc.db3"));
    di->AddInstance<ICourioDataStore>(store);
    test::AddSettingsRow(*store, "Store", {{"id", 7}});
    SetPlinthDI(di);

    auto tracker = c.make();
    tracker->Initialise();
    db->connected = false;  // every statement fails from here on
    const size_t before = db->Statements().size();

    // The worker's turns, every 100 ms for two minutes; the times of the
    // passes that asked the POS.
    std::vector<double> asked;
    const TDateTime t0 = now.load();
    for (int turn = 0; turn <= 1200; ++turn) {
      now = t0 + turn * 0.1 / 86400;
      size_t n = db->Statements().size();
      tracker->ThreadTask();
      if (db->Statements().size() > n) asked.push_back(turn * 0.1);
    }
    ASSERT_GE(asked.size(), 3u);
    EXPECT_LT(asked.size(), 40u) << "not every 100 ms";
    EXPECT_EQ(db->Statements().size() - before, asked.size()) << "one statement per failed pass";
    std::vector<double> gaps;
    for (size_t i = 1; i < asked.size(); ++i) gaps.push_back(asked[i] - asked[i - 1]);
    EXPECT_NEAR(gaps.front(), c.firstDelay, 0.101);
    for (size_t i = 1; i < gaps.size(); ++i) EXPECT_GE(gaps[i], gaps[i - 1] - 0.101) << "the delay never shrinks";
    EXPECT_NEAR(gaps.back(), c.lastDelay, 1.01);
    EXPECT_TRUE(log.Contains(std::string("[TCourioEventTracker") + c.name + ".ThreadTask] Error : Communication link failure"));

    tracker->Finalise();
    SetPlinthDI(nullptr);
    SetClockForTesting(nullptr);
  }
}

}  // namespace
}  // namespace courio
