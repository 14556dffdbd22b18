// The driver-assigned tracker on the embedded POS: hand-overs (INVOICES
// TimeToDrvr and Driver) become InvoiceEvents of type 2.
#include "trackers/implCourioEventTrackerDriverAssigned.hpp"

#include <set>

#include "trackers/TrackerOnPosSupport.hpp"

namespace courio {
namespace {

const char* const kTask = "[TCourioEventTrackerDriverAssigned.ThreadTask] ";

class DriverAssignedTest : public test::TrackerOnPosTest {
 protected:
  std::unique_ptr<TCourioEventTrackerDriverAssigned> MakeTracker() {
    auto t = std::make_unique<TCourioEventTrackerDriverAssigned>();
    t->Initialise();
    return t;
  }
  // Hands invoice `num` (made if missing) to `driver` at `when` ("hh:nn:ss[.fff]" today).
  void HandOver(int num, const std::string& driver, const std::string& when) {
    Sql("INSERT OR IGNORE INTO INVOICES (InvoiceNum, TransType, Date) VALUES (" + std::to_string(num) +
        ", 3, '2024-05-02 13:00:00'); UPDATE INVOICES SET Driver = '" + driver + "', TimeToDrvr = '2024-05-02 " +
        when + "' WHERE InvoiceNum = " + std::to_string(num));
  }
  // Every type 2 event as "invoice driver time".
  std::vector<std::string> Reported() {
    std::vector<std::string> out;
    for (const auto& e : Events<TSQLInvoiceEvent>()) {
      EXPECT_EQ(e.EventType, 2);
      EXPECT_EQ(e.UploadStatus, 0);
      TJson data = ParseJson(e.EventData);
      EXPECT_EQ(JsonAsInt(data["InvoiceNum"]), e.InvoiceNum);
      EXPECT_EQ(DateTimeToIso(IsoToDateTime(JsonAsText(data["TimeStamp"]))), DateTimeToIso(e.Timestamp));
      out.push_back(std::to_string(e.InvoiceNum) + " " + JsonAsText(data["DriverEmpnum"]) + " " +
                    FormatDateTime("hh:nn:ss", e.Timestamp));
    }
    return out;
  }
  std::string Watermark() { return StoredSetting("DriverAssigned", "LastTimestamp"); }
};

TEST_F(DriverAssignedTest, AHandOverBecomesOneEventWithThePosRowAndMovesTheWatermark) {
  auto t = MakeTracker();
  EXPECT_EQ(StoredSetting("DriverAssigned", "LastCheck"), "2024-05-01T14:00:00");
  EXPECT_EQ(Watermark(), "2024-05-02T00:00:00") << "first run: every hand-over since midnight";
  HandOver(1045, "0042", "14:07:09.600");
  HandOver(1046, "0043", "00:00:00");  // exactly at midnight: on the watermark, reported
  Sql("UPDATE INVOICES SET TimeToDrvr = '2024-05-01 23:59:59' WHERE InvoiceNum = 1002");  // yesterday
  t->ThreadTask();

  auto events = Events<TSQLInvoiceEvent>();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].EventData, R"({"InvoiceNum":1045,"TimeStamp":"2024-05-02T14:07:09","DriverEmpnum":"0042"})");
  EXPECT_EQ(Reported(), (std::vector<std::string>{"1046 0043 00:00:00", "1045 0042 14:07:09"}));
  EXPECT_EQ(Watermark(), "2024-05-02T14:07:09");
  EXPECT_EQ(StoredSetting("DriverAssigned", "LastCheck"), "2024-05-02T14:00:00");
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "New Invoice Count : 2"));

  // The next pass looks at the watermark's own second again and finds the
  // hand-over already reported.
  Advance(11);
  t->ThreadTask();
  EXPECT_EQ(Events<TSQLInvoiceEvent>().size(), 2u);
  EXPECT_TRUE(log_.Contains(std::string(kTask) + "New Invoice Count : 1"));
  EXPECT_FALSE(log_.Contains("Error"));
}

TEST_F(DriverAssignedTest, HandOversSharingASecondAreEachReportedOnceAndARepeatedHandOverAgain) {
  auto t = MakeTracker();
  HandOver(2001, "0042", "14:07:09.100");
  t->ThreadTask();
  // Written to the POS after that pass, in the same whole second.
  HandOver(2002, "0043", "14:07:09.900");
  Advance(11);
  t->ThreadTask();
  // Two more in one second before a pass; then invoice 2001 handed over again.
  HandOver(2003, "0044", "14:08:00");
  HandOver(2004, "0042", "14:08:00");
  Advance(11);
  t->ThreadTask();
  HandOver(2001, "0043", "14:20:00");
  Advance(11);
  t->ThreadTask();
  Advance(11);
  t->ThreadTask();

  std::vector<std::string> reported = Reported();
  ASSERT_EQ(reported.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(reported.begin(), reported.begin() + 2),
            (std::vector<std::string>{"2001 0042 14:07:09", "2002 0043 14:07:09"}));
  EXPECT_EQ((std::set<std::string>{reported[2], reported[3]}),
            (std::set<std::string>{"2003 0044 14:08:00", "2004 0042 14:08:00"}));
  EXPECT_EQ(reported[4], "2001 0043 14:20:00");
  EXPECT_EQ(Watermark(), "2024-05-02T14:20:00");
}

TEST_F(DriverAssignedTest, AFailingPassIsLoggedStillEndsWithLastCheckAndKeepsTheWatermark) {
  auto t = MakeTracker();
  HandOver(3001, "0042", "09:00:00");
  t->ThreadTask();
  Sql("ALTER TABLE INVOICES RENAME TO INVOICES_AWAY");
  Advance(11);
  t->ThreadTask();
  EXPECT_EQ(log_.Count(std::string(kTask) + "Error : "), 1u);
  EXPECT_EQ(StoredSetting("DriverAssigned", "LastCheck"), "2024-05-02T14:00:11") << "written after a failure too";
  EXPECT_EQ(Watermark(), "2024-05-02T09:00:00");
  Advance(5);
  t->ThreadTask();
  EXPECT_EQ(log_.Count(std::string(kTask) + "Error : "), 1u) << "the next attempt waits for the gap";

  Sql("ALTER TABLE INVOICES_AWAY RENAME TO INVOICES");
  HandOver(3002, "0043", "09:30:00");
  Advance(6);
  t->ThreadTask();
  EXPECT_EQ(Reported(), (std::vector<std::string>{"3001 0042 09:00:00", "3002 0043 09:30:00"}));
}

TEST_F(DriverAssignedTest, RegistersItsNamedFactory) {
  RegisterDriverAssignedTracker(*di_);
  ICourioEventTrackerPtr a, b;
  ASSERT_TRUE(di_->CreateNamedInstance("DriverAssigned", a));
  ASSERT_TRUE(di_->CreateNamedInstance("DriverAssigned", b));
  EXPECT_NE(a, b);
  EXPECT_TRUE(std::dynamic_pointer_cast<TCourioEventTrackerDriverAssigned>(a));
  UnregisterDriverAssignedTracker(*di_);
  EXPECT_FALSE(di_->HasNamedFactory(ICourioEventTracker::IID, "DriverAssigned"));
}

}  // namespace
}  // namespace courio
