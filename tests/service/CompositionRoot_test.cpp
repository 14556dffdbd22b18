// The composition root registers the trackers as named factories in the
// order the backend makes them.
#include "service/CompositionRoot.hpp"

#include <gtest/gtest.h>

#include "common/di/implDI.hpp"
#include "common/log/implLogManager.hpp"
#include "pos/implPlinthAttend.hpp"
#include "trackers/implCourioEventTrackerCollectToDelivery.hpp"
#include "trackers/implCourioEventTrackerDeliveryToCollect.hpp"
#include "trackers/implCourioEventTrackerInvoiceOverring.hpp"

namespace courio {
namespace {

TEST(CompositionRootTest, TheTrackersComeInTheirOrderAndTheTransitionsAndOverringsLast) {
  TPlinthDI di;
  RegisterComponents(di);
  std::vector<std::string> names;
  di.GetFactoryNames(ICourioEventTracker::IID, names);
  ASSERT_GE(names.size(), 5u);
  EXPECT_EQ(names[0], "NewInvoice");
  EXPECT_EQ(names[1], "RemoteChanges");
  EXPECT_EQ(std::vector<std::string>(names.end() - 3, names.end()),
            (std::vector<std::string>{"CollectToDelivery", "DeliveryToCollect", "InvoiceOverring"}));
  // Each name makes a fresh tracker of its own class.
  ICourioEventTrackerPtr a, b, c, again;
  ASSERT_TRUE(di.CreateNamedInstance("CollectToDelivery", a));
  ASSERT_TRUE(di.CreateNamedInstance("DeliveryToCollect", b));
  ASSERT_TRUE(di.CreateNamedInstance("InvoiceOverring", c));
  ASSERT_TRUE(di.CreateNamedInstance("InvoiceOverring", again));
  EXPECT_TRUE(std::dynamic_pointer_cast<TCourioEventTrackerCollectToDelivery>(a));
  EXPECT_TRUE(std::dynamic_pointer_cast<TCourioEventTrackerDeliveryToCollect>(b));
  EXPECT_TRUE(std::dynamic_pointer_cast<TCourioEventTrackerInvoiceOverring>(c));
  EXPECT_NE(c, again);

  UnregisterComponents(di);
  names.clear();
  di.GetFactoryNames(ICourioEventTracker::IID, names);
  EXPECT_TRUE(names.empty());
  SetLogManager(nullptr);
}

TEST(CompositionRootTest, AllEightTrackersInOrderAndTheAttendanceComponentWithoutAName) {
  TPlinthDI di;
  RegisterComponents(di);
  std::vector<std::string> names;
  di.GetFactoryNames(ICourioEventTracker::IID, names);
  EXPECT_EQ(names, (std::vector<std::string>{"NewInvoice", "RemoteChanges", "DriverAssigned", "RemoteDriverChanges",
                                             "DriverEvents", "CollectToDelivery", "DeliveryToCollect",
                                             "InvoiceOverring"}));

  IPlinthAttendPtr a, b;
  ASSERT_TRUE(di.CreateInstance(a));
  ASSERT_TRUE(di.CreateInstance(b));
  EXPECT_NE(a, b) << "a new one for every caller";
  EXPECT_TRUE(std::dynamic_pointer_cast<TPlinthAttend>(a));

  UnregisterComponents(di);
  EXPECT_FALSE(di.HasFactory(IPlinthAttend::IID));
  SetLogManager(nullptr);
}

}  // namespace
}  // namespace courio
