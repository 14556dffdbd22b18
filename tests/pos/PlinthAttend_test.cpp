// Attendance and employee access, on the embedded POS through the real ODBC
// path (and, for the exact statement texts, on a recording fake).
#include "pos/implPlinthAttend.hpp"

#include <atomic>

#include "PosTestSupport.hpp"
#include "common/util/StrUtils.hpp"
#include "support/FakeDBManager.hpp"

namespace courio {
namespace {

TDateTime At(int y, int mo, int d, int h, int mi = 0, int s = 0) { return EncodeDateTime(y, mo, d, h, mi, s); }
// How the POS stores a time (what pos-sim writes), for rows made by the tests.
std::string Stored(TDateTime t) { return "'" + FormatDateTime("yyyy-mm-dd hh:nn:ss", t) + "'"; }
std::string Iso(TDateTime t) { return DateTimeToIso(t); }

TEST(BusinessDayTest, BoundsFollowTheDayStartAndANewDayBeginsExactlyAtIt) {
  const TDateTime six = At(1899, 12, 30, 6);
  struct Case {
    const char* name;
    TDateTime now, dayStart, start, end;
  };
  const Case cases[] = {
      {"03:00 belongs to the day that began yesterday", At(2024, 5, 2, 3), six, At(2024, 5, 1, 6), At(2024, 5, 2, 6)},
      {"one second before the day start", At(2024, 5, 2, 5, 59, 59), six, At(2024, 5, 1, 6), At(2024, 5, 2, 6)},
      {"exactly at the day start", At(2024, 5, 2, 6), six, At(2024, 5, 2, 6), At(2024, 5, 3, 6)},
      {"late evening", At(2024, 5, 2, 23, 59, 59), six, At(2024, 5, 2, 6), At(2024, 5, 3, 6)},
      {"across a month and a leap day", At(2024, 3, 1, 0, 30), six, At(2024, 2, 29, 6), At(2024, 3, 1, 6)},
      {"only the time of day of the start counts", At(2024, 5, 2, 18), At(2031, 7, 9, 18, 30), At(2024, 5, 1, 18, 30),
       At(2024, 5, 2, 18, 30)},
      {"midnight day start", At(2024, 5, 2, 0), At(1899, 12, 30, 0), At(2024, 5, 2, 0), At(2024, 5, 3, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Iso(BusinessDayBound(0, c.now, c.dayStart)), Iso(c.start));
    EXPECT_EQ(Iso(BusinessDayBound(1, c.now, c.dayStart)), Iso(c.end));
  }
  EXPECT_EQ(BusinessDayBound(2, At(2024, 5, 2, 3), six), 0);
  EXPECT_EQ(BusinessDayBound(-1, At(2024, 5, 2, 3), six), 0);
}

TEST(BusinessDayTest, DayStartTexts) {
  struct Case {
    const char* text;
    const char* time;  // nullptr: refused
  };
  const Case cases[] = {
      {"6:00", "06:00:00"},       {"06:00", "06:00:00"},   {"06:00:00", "06:00:00"}, {"6:00 AM", "06:00:00"},
      {"6:00 PM", "18:00:00"},    {"6:00pm", "18:00:00"},  {" 05:30:15 ", "05:30:15"}, {"12:00 AM", "00:00:00"},
      {"12:15 PM", "12:15:00"},   {"23:59", "23:59:00"},   {"0:00", "00:00:00"},     {"", nullptr},
      {"6", nullptr},             {"6:0", nullptr},        {"24:00", nullptr},       {"6:60", nullptr},
      {"06:00:60", nullptr},      {"13:00 PM", nullptr},   {"0:30 AM", nullptr},     {"6:00 XM", nullptr},
      {"six o'clock", nullptr},   {"06:00:00.5", nullptr}, {"2024-05-02 06:00", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("'") + c.text + "'");
    TDateTime t = -1;
    ASSERT_EQ(TryParseDayStart(c.text, t), c.time != nullptr);
    if (c.time) {
      EXPECT_EQ(FormatDateTime("hh:nn:ss", t), c.time);
    }
  }
}

TEST(BusinessDayTest, NumbersForTheClockInHaveTenDecimals) {
  const std::pair<double, const char*> cases[] = {
      {12.5, "12.5000000000"},         {0, "0.0000000000"},          {0.85, "0.8500000000"},
      {-3.25, "-3.2500000000"},        {0.1 + 0.2, "0.3000000000"}, {1234567.891234, "1234567.8910000000"},
      {1e-11, "0.0000000000"},         {2.00000000049, "2.0000000000"}, {0.00123456789, "0.0012345679"},
      {1e20, "100000000000000000000.0000000000"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FixedDecimal10(value), text) << value;
}

class PlinthAttendTest : public test::PosFixture {
 protected:
  void SetUp() override {
    PosFixture::SetUp();
    SetClockForTesting([this] { return now_.load(); });
    db_ = Connect();
  }
  void TearDown() override {
    SetClockForTesting(nullptr);
    PosFixture::TearDown();
  }
  // A fresh attendance component, initialised as its callers do.
  std::unique_ptr<TPlinthAttend> Attend() {
    auto a = std::make_unique<TPlinthAttend>();
    a->Initialise(db_);
    return a;
  }
  void AttendRow(const std::string& empNum, TDateTime in, bool clockedOut = false, bool onDelivery = false) {
    Sql("INSERT INTO ATTEND (EmpNum, InDateTime, ClockedOut, OnDelivery) VALUES ('" + empNum + "', " + Stored(in) +
        ", " + std::to_string(clockedOut) + ", " + std::to_string(onDelivery) + ")");
  }
  // The InDateTime of the employee's row the window shows, or "" for none.
  std::string LatestIn(TPlinthAttend& a, const std::string& empNum) {
    TJson rows;
    a.FetchEmployeeAttendJSON(empNum, rows);
    return rows.empty() ? "" : JsonAsText(JsonGet(rows[0], "InDateTime"));
  }
  TJson AttendRows(const std::string& empNum) {
    std::string json;
    db_->QueryJSONFmt("SELECT InDateTime, HourlyRate, KmRate, OdoStart, Float, ClockedOut, OnDelivery FROM ATTEND "
                      "WHERE EmpNum = %s ORDER BY InvoiceLink",
                      {QuotedStr(empNum)}, json);
    TJson rows;
    return TryParseJson(json, rows) && rows.is_array() ? rows : TJson::array();
  }

  std::atomic<TDateTime> now_{At(2024, 5, 2, 5, 59, 59)};
  IDBManagerPtr db_;
  test::LogCapture log_;
};

TEST_F(PlinthAttendTest, InitialiseReadsTheDayStartEveryTimeAndRefusesWhatIsNoTime) {
  TPlinthAttend a;
  possim::SetDayStart(dbPath, "6:30 PM");
  a.Initialise(db_);
  EXPECT_EQ(FormatDateTime("hh:nn:ss", a.DayStart()), "18:30:00");
  possim::SetDayStart(dbPath, "07:15:30");
  a.Initialise(db_);
  EXPECT_EQ(FormatDateTime("hh:nn:ss", a.DayStart()), "07:15:30") << "read again, no restart needed";

  for (const char* bad : {"6", "", "half past six", "25:00"}) {
    SCOPED_TRACE(bad);
    possim::SetDayStart(dbPath, bad);
    try {
      a.Initialise(db_);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("'" + std::string(bad) + "'"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FormatDateTime("hh:nn:ss", a.DayStart()), "07:15:30") << "the day start stays as it was";
  }
  Sql("DELETE FROM SYSDATA WHERE ITEM = 'DAY START'");
  EXPECT_THROW(a.Initialise(db_), std::invalid_argument) << "no row at all";
}

TEST_F(PlinthAttendTest, TheWindowIsOpenAtBothBounds) {
  // Day start 06:00 (the shop's). 0042 has rows just inside the window of
  // May 1st; 0043 and 0044 only rows exactly on a bound.
  AttendRow("0042", At(2024, 5, 1, 6, 0, 1));
  AttendRow("0042", At(2024, 5, 2, 5, 59, 58));
  AttendRow("0043", At(2024, 5, 2, 6));
  AttendRow("0044", At(2024, 5, 1, 6));
  AttendRow("0044", At(2024, 5, 3, 6));
  struct Case {
    TDateTime now;
    const char* emp;
    const char* latestIn;
  };
  const Case cases[] = {
      {At(2024, 5, 2, 5, 59, 59), "0042", "2024-05-02T05:59:58"},
      {At(2024, 5, 2, 5, 59, 59), "0043", ""},  // on the end bound
      {At(2024, 5, 2, 5, 59, 59), "0044", ""},  // on the start bound
      {At(2024, 5, 2, 6), "0042", ""},          // a new business day
      {At(2024, 5, 2, 6), "0043", ""},          // on the start bound
      {At(2024, 5, 2, 6), "0044", ""},          // on the end bound
      {At(2024, 5, 2, 6, 0, 1), "0043", ""},    // still the start bound
      {At(2024, 5, 1, 5, 59, 59), "0042", ""},  // the business day of April 30th
      {At(2024, 5, 1, 6), "0042", "2024-05-02T05:59:58"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Iso(c.now) + " " + c.emp);
    now_ = c.now;
    auto a = Attend();
    EXPECT_EQ(LatestIn(*a, c.emp), c.latestIn);
    TJson list;
    a->FetchCurretAttendJSON(list);
    for (const auto& d : list)
      if (JsonAsText(JsonGet(d, "EmpNum")) == c.emp) {
        EXPECT_EQ(JsonAsText(JsonGet(d, "InDateTime")), c.latestIn);
      }
  }
}

TEST_F(PlinthAttendTest, CurrentAttendanceListsEveryActiveDeliveryDriverWithItsLatestRow) {
  now_ = At(2024, 5, 2, 14);
  AttendRow("0042", At(2024, 5, 2, 9), true, false);
  AttendRow("0042", At(2024, 5, 2, 11), false, true);
  AttendRow("0044", At(2024, 5, 2, 5));  // before the day start: yesterday's business day
  AttendRow("0050", At(2024, 5, 2, 10));  // inactive
  AttendRow("0001", At(2024, 5, 2, 10));  // not a driver
  possim::AddEmployee(dbPath, {"0061", "New", "Driver"});
  auto a = Attend();
  TJson list;
  a->FetchCurretAttendJSON(list);
  TJson byEmp = TJson::object();
  for (const auto& d : list) byEmp[JsonAsText(JsonGet(d, "EmpNum"))] = d;
  ASSERT_EQ(list.size(), 4u) << JsonDump(list);
  EXPECT_EQ(JsonDump(byEmp["0042"]), R"({"EmpNum":"0042","InDateTime":"2024-05-02T11:00:00","OutDateTime":null,)"
                                     R"("ClockedOut":false,"OnDelivery":true})");
  for (const char* none : {"0043", "0044", "0061"})
    EXPECT_EQ(JsonDump(byEmp[none]), "{\"EmpNum\":\"" + std::string(none) +
                                         R"(","InDateTime":null,"OutDateTime":null,"ClockedOut":null,"OnDelivery":null})");
  TJson none;
  a->FetchEmployeeAttendJSON("0043", none);
  EXPECT_TRUE(none.is_array() && none.empty());
  EXPECT_TRUE(a->IsClockedOut(none)) << "no row today counts as clocked out";

  Sql("UPDATE EMPLOYEE SET ACTIVE = 0");
  a->FetchCurretAttendJSON(list);
  EXPECT_EQ(JsonDump(list), "[]") << "no active delivery drivers";
  EXPECT_FALSE(log_.Contains("Error"));
}

TEST_F(PlinthAttendTest, ClockInTakesTheEmployeesRatesAndNeedsExactlyOneEmployee) {
  now_ = At(2024, 5, 2, 14);
  Sql("DELETE FROM ATTEND");
  possim::AddEmployee(dbPath, {"O'Neil", "Pat", "O'Neil"});
  possim::AddEmployee(dbPath, {"0099", "Twin", "One"});
  possim::AddEmployee(dbPath, {"0099", "Twin", "Two"});
  Sql("UPDATE EMPLOYEE SET HOURLYRATE = 30, KMRATE = NULL WHERE EMPNUM = 'O''Neil'");
  struct Case {
    const char* emp;
    bool found;
    TJson row;  // the new ATTEND row, or null
  };
  const TDateTime in = At(2024, 5, 2, 13, 45, 10);
  auto row = [&](double hourly, double km) {
    return TJson{{"InDateTime", Iso(in)}, {"HourlyRate", hourly}, {"KmRate", km},    {"OdoStart", 1234.5},
                 {"Float", 50},           {"ClockedOut", false},  {"OnDelivery", false}};
  };
  const Case cases[] = {
      {"0042", true, row(25.5, 0.85)},
      {"0043", true, row(0, 0)},  // HOURLYRATE and KMRATE are NULL
      {"O'Neil", true, row(30, 0)},
      {"0099", false, nullptr},  // two employees with one number
      {"9999", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.emp);
    auto a = Attend();
    TJson employee;
    EXPECT_EQ(a->FetchEmployeeJSON(c.emp, employee), c.found);
    EXPECT_EQ(employee.size(), c.found ? 1u : 0u);
    if (c.found) {
      EXPECT_EQ(JsonAsText(JsonGet(employee[0], "EMPNUM")), c.emp);
    }
    a->ClockInEmployee(c.emp, in, 1234.5, 50);
    TJson rows = AttendRows(c.emp);
    if (c.row.is_null()) {
      EXPECT_TRUE(rows.empty()) << JsonDump(rows);
      continue;
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], c.row);
    TJson latest;
    a->FetchEmployeeAttendJSON(c.emp, latest);
    EXPECT_FALSE(a->IsClockedOut(latest));
  }
  EXPECT_EQ(log_.Count("[TPlinthAttend.ClockInEmployee] Fetch Employee : True"), 3u);
  EXPECT_EQ(log_.Count("[TPlinthAttend.ClockInEmployee] Fetch Employee : False"), 2u);
  EXPECT_TRUE(log_.Contains("[TPlinthAttend.ClockInEmployee] Employee : []"));
  EXPECT_TRUE(log_.Contains("[TPlinthAttend.FetchEmployeeJSON] Employee: [{\"EMPNUM\":\"0042\""));
  EXPECT_FALSE(log_.Contains("drive42")) << "the employee's password is masked";
}

TEST_F(PlinthAttendTest, FailingReadsGiveAnEmptyListAndAreLogged) {
  TPlinthAttend notReady;
  TJson list = TJson::array({1});
  notReady.FetchCurretAttendJSON(list);
  EXPECT_EQ(JsonDump(list), "[]");
  EXPECT_TRUE(log_.Contains("[TPlinthAttend.FetchCurretAttendJSON] Error : TPlinthAttend is not initialised"));

  auto a = Attend();
  Sql("DROP TABLE ATTEND");
  a->FetchCurretAttendJSON(list);
  EXPECT_EQ(JsonDump(list), "[]");
  TJson one = TJson::array({1});
  a->FetchEmployeeAttendJSON("0042", one);
  EXPECT_EQ(JsonDump(one), "[]");
  EXPECT_EQ(log_.Count("[TPlinthAttend.FetchCurretAttendJSON] Error : "), 2u);
  EXPECT_EQ(log_.Count("[TPlinthAttend.FetchEmployeeAttendJSON] Error : "), 1u);
  EXPECT_THROW(a->ClockInEmployee("0042", now_, 0, 0), std::exception) << "the insert's error reaches the caller";
  Sql("DROP TABLE EMPLOYEE");
  TJson employee;
  EXPECT_THROW(a->FetchEmployeeJSON("0042", employee), std::exception);
}

TEST(PlinthAttendStatementsTest, StatementsCarryTheWindowQuotedNumbersAndFixedRates) {
  SetClockForTesting([] { return At(2024, 5, 2, 3); });
  auto db = std::make_shared<test::TFakeDBManager>();
  db->Open();
  db->answer = [](const std::string& sql) -> std::string {
    if (sql.find("FROM SYSDATA") != std::string::npos) return "6:00";
    if (sql.find("FROM EMPLOYEE WHERE") != std::string::npos)
      return R"([{"EMPNUM":"O'Neil","HOURLYRATE":12.5,"KMRATE":null}])";
    return "null";
  };
  TPlinthAttend a;
  a.Initialise(db);
  TJson rows;
  a.FetchEmployeeAttendJSON("O'Neil", rows);
  a.FetchCurretAttendJSON(rows);
  const TDateTime in = At(2024, 5, 2, 2, 30);
  a.ClockInEmployee("O'Neil", in, 0.1, 1234567.891234);
  SetClockForTesting(nullptr);

  const std::string start = db->DateTimeToSQL(At(2024, 5, 1, 6)), end = db->DateTimeToSQL(At(2024, 5, 2, 6));
  EXPECT_EQ(db->Statements(),
            (std::vector<std::string>{
                "SELECT VALUE FROM SYSDATA WHERE CLASS = 'GLOBAL' AND ITEM = 'DAY START'",
                "SELECT TOP 1 * FROM [Attend] WHERE [InDateTime] > " + start + " AND [InDateTime] < " + end +
                    " AND [EmpNum] = 'O''Neil' ORDER BY [InDateTime] DESC",
                "SELECT EMPLOYEE.EMPNUM as EmpNum, ATTEND.InDateTime, ATTEND.OutDateTime, ATTEND.ClockedOut, "
                "ATTEND.OnDelivery FROM EMPLOYEE LEFT JOIN ( SELECT EMPNUM, MAX( InDateTime ) AS MaxInDateTime FROM "
                "ATTEND WHERE InDateTime > " + start + " AND InDateTime < " + end +
                    " GROUP BY EMPNUM ) ATT ON ATT.EMPNUM = EMPLOYEE.EMPNUM LEFT JOIN ATTEND ON ATTEND.EMPNUM = "
                    "EMPLOYEE.EMPNUM AND ATTEND.InDateTime = ATT.MaxInDateTime WHERE DoesDeliveries = 1 AND "
                    "ACTIVE = 1",
                "SELECT * FROM EMPLOYEE WHERE EMPNUM = 'O''Neil'",
                "INSERT INTO [ATTEND] ( [EmpNum], [InDateTime], [HourlyRate], [KmRate], [OdoStart], [Float] ) VALUES "
                "( 'O''Neil', " + db->DateTimeToSQL(in) +
                    ", 12.5000000000, 0.0000000000, 0.1000000000, 1234567.8910000000 )",
            }));
  EXPECT_TRUE(rows.is_array() && rows.empty()) << "\"null\" reads as no rows";
}

TEST(PlinthAttendStatementsTest, IsClockedOutReadsTheFirstRowsFlag) {
  TPlinthAttend a;
  const std::pair<const char*, bool> cases[] = {
      {"[]", true},
      {R"([{"ClockedOut":true}])", true},
      {R"([{"ClockedOut":false}])", false},
      {R"([{"clockedout":1}])", true},
      {R"([{"ClockedOut":null}])", false},  // never set: not clocked out
      {R"([{"ClockedOut":false},{"ClockedOut":true}])", false},
  };
  for (const auto& [doc, out] : cases) EXPECT_EQ(a.IsClockedOut(ParseJson(doc)), out) << doc;
  EXPECT_THROW(a.IsClockedOut(ParseJson(R"([{"ClockedOut":"maybe"}])")), std::invalid_argument);
}

TEST(PlinthAttendStatementsTest, RegisteredWithoutANameAndMadeAnewEachTime) {
  TPlinthDI di;
  RegisterPlinthAttend(di);
  IPlinthAttendPtr a, b;
  ASSERT_TRUE(di.CreateInstance(a));
  ASSERT_TRUE(di.CreateInstance(b));
  EXPECT_NE(a, b);
  EXPECT_TRUE(std::dynamic_pointer_cast<TPlinthAttend>(a));
  UnregisterPlinthAttend(di);
  EXPECT_FALSE(di.HasFactory(IPlinthAttend::IID));
}

}  // namespace
}  // namespace courio
