// The driver commands of pos-sim, through the binary as the demo uses them.
#include "PosTestSupport.hpp"
#include "common/util/Json.hpp"

namespace courio::test {
namespace {

class PosSimDriversTest : public PosFixture {
 protected:
  // Runs pos-sim; its exit code and output (trailing line end dropped).
  std::pair<int, std::string> Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {BuildDir() + "/pos-sim"};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess p(argv);
    int code = p.Wait(std::chrono::seconds(20));
    std::string out = p.Output();
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return {code, out};
  }
};

TEST_F(PosSimDriversTest, DayStartEmployeesAndAttendance) {
  auto db = Connect();
  EXPECT_EQ(Run({"daystart", dbPath, "6:30 PM"}).first, 0);
  EXPECT_EQ(db->QueryString("SELECT VALUE FROM SYSDATA WHERE CLASS = 'GLOBAL' AND ITEM = 'DAY START'", "VALUE"),
            "6:30 PM");
  EXPECT_EQ(db->QueryInteger("SELECT COUNT(1) AS N FROM SYSDATA WHERE ITEM = 'DAY START'", "N"), 1) << "replaced";

  EXPECT_EQ(Run({"employee", dbPath, "0070", "Ana", "Road"}).first, 0);
  EXPECT_EQ(Run({"employee", dbPath, "0071", "Ben", "Desk", "--not-driver"}).first, 0);
  EXPECT_EQ(Run({"employee", dbPath, "0072", "Cy", "Gone", "--inactive"}).first, 0);
  EXPECT_EQ(Run({"employee", dbPath, "0073", "Di", "Typo", "--sideways"}).first, 2);
  std::string json;
  db->QueryJSONFmt("SELECT EMPNUM, DoesDeliveries, ACTIVE, HOURLYRATE FROM EMPLOYEE WHERE EMPNUM >= '0070' ORDER BY "
                   "EMPNUM",
                   {}, json);
  EXPECT_EQ(json, R"([{"EMPNUM":"0070","DoesDeliveries":true,"ACTIVE":true,"HOURLYRATE":null},)"
                  R"({"EMPNUM":"0071","DoesDeliveries":false,"ACTIVE":true,"HOURLYRATE":null},)"
                  R"({"EMPNUM":"0072","DoesDeliveries":true,"ACTIVE":false,"HOURLYRATE":null}])");

  EXPECT_NE(Run({"attend", dbPath, "0070"}).first, 0) << "no attendance row yet";
  const std::string link = Run({"clockin", dbPath, "0070"}).second;
  Run({"ondelivery", dbPath, "0070", "1"});
  TJson row = ParseJson(Run({"attend", dbPath, "0070"}).second);
  EXPECT_EQ(JsonAsText(row["InvoiceLink"]), link);
  EXPECT_EQ(row["EmpNum"], "0070");
  EXPECT_EQ(row["OnDelivery"], 1);
  EXPECT_EQ(row["ClockedOut"], 0);
}

}  // namespace
}  // namespace courio::test
