// Every statement the service sends to the POS, run through the manager
// against a pos-sim database holding a fixed day of shop activity, with the
// rows the POS server gives for the same data. The texts are written exactly
// as the service formats them.

#include <gtest/gtest.h>

#include <algorithm>

#include "PosTestSupport.hpp"
#include "common/util/Json.hpp"
#include "common/util/StrUtils.hpp"
#include "trackers/InvoiceChangeStatements.hpp"

namespace courio::test {
namespace {

// Keys lower-cased (readers match keys without regard to case, and the
// servers may spell a column's name differently), arrays kept in order.
TJson Canonical(const TJson& v) {
  if (v.is_object()) {
    TJson out = TJson::object();
    for (auto it = v.begin(); it != v.end(); ++it) out[LowerAscii(it.key())] = Canonical(it.value());
    return out;
  }
  if (v.is_array()) {
    TJson out = TJson::array();
    for (const auto& e : v) out.push_back(Canonical(e));
    return out;
  }
  return v;
}

class PosStatementsTest : public PosFixture {
 protected:
  void SetUp() override {
    PosFixture::SetUp();
    Sql(R"SQL(
DELETE FROM INVOICES; DELETE FROM LINEITEM; DELETE FROM OnlineOrderDetails; DELETE FROM ATTEND;
DELETE FROM ACTIVITY; DELETE FROM InvoicesAudit;
INSERT INTO INVOICES (InvoiceNum, TransType, Status, Date, TimeDue, CustLink, OrderNum, InvoiceSource, IsPaidOnline,
                      AfterDisc, Driver, TimeToDrvr) VALUES
  (5001, 3, 1, '2024-05-02 18:00:00', '2024-05-02 18:30:00', 1, 17, 'POS', 0, 33.5, '0042', '2024-05-02 18:40:09.600'),
  (5002, 2, 1, '2024-05-02 18:05:00', '2024-05-02 18:20:00', 4, 18, 'WEB', 1, 12.0, NULL, NULL),
  (5003, 3, 0, '2024-05-02 18:06:00', '2024-05-02 18:36:00', 2, 19, 'POS', 0, 20.25, '0044', '2024-05-02 18:45:00'),
  (5004, 3, 1, '2024-05-02 18:07:00', '2024-05-02 18:37:00', 3, 20, 'POS', 0, 8, NULL, NULL),
  (5005, 2, 1, '2024-05-02 18:08:00', '2024-05-02 18:38:00', 5, 21, 'POS', 0, 9.99, NULL, NULL);
INSERT INTO LINEITEM (InvoiceNum, Code, ItemDesc, Quantity, Price) VALUES
  (5001, 'BG01', 'Burger', 2, 12), (5001, 'DR01', 'Cola', 1, 3.5), (5002, 'PZ01', 'Margherita Pizza', 1, 12);
INSERT INTO OnlineOrderDetails (InvoiceNum, ExternalID) VALUES (5002, 'PEL-1');
INSERT INTO ATTEND (InvoiceLink, EmpNum, InDateTime, OutDateTime, ClockedOut, OnDelivery, HourlyRate, KmRate, OdoStart,
                    Float) VALUES
  (1, '0042', '2024-05-02 06:00:00', '2024-05-02 09:00:00', 1, 0, 25.5, 0.85, 0, 0),
  (2, '0042', '2024-05-02 10:00:00', '2024-05-02 12:00:00', 1, 0, 25.5, 0.85, 0, 0),
  (3, '0042', '2024-05-02 17:00:00', NULL, 0, 1, 25.5, 0.85, 1200, 20),
  (4, '0043', '2024-05-01 17:00:00', '2024-05-01 23:00:00', 1, 0, NULL, NULL, 0, 0),
  (5, '0050', '2024-05-02 17:30:00', NULL, 0, 0, 20, 0.7, 0, 0),
  (6, '0044', '2024-05-02 16:00:00', NULL, 0, 0, 24, 0.8, 0, 0),
  (7, '0043', '2024-05-01 23:50:00', NULL, 0, 0, NULL, NULL, 0, 0);
INSERT INTO ACTIVITY (ActivityID, DATE, ACTCODE, ACTIVITY) VALUES
  (880001, '2024-05-02 18:30:00', 'EX040', 'Invoice 5001 O/R'),
  (880002, '2024-05-02 18:31:00', 'EX040', 'Invoice 5002 O/R'),
  (880003, '2024-05-02 18:32:00', 'EX040', 'Invoice 5003 O/R'),
  (880004, '2024-05-02 18:33:00', 'EX040', 'Invoice 5001 O/R Cancelled'),
  (880005, '2024-05-02 18:34:00', 'EX041', 'Invoice 5004 O/R'),
  (880006, '2024-05-02 18:35:00', 'ex040', 'INVOICE 5004 o/r'),
  (880007, '2024-05-02 18:36:00', 'LOGIN', 'Login Morgan');
INSERT INTO InvoicesAudit (InvoiceNum, TimeStamp, Data) VALUES
  (5004, '2024-05-02 18:10:00', 'InvoiceNum=''5004'' TransType=''2'' Status=''1'''),
  (5005, '2024-05-02 18:12:00.400', 'InvoiceNum=''5005'' TRANSTYPE=''3'' Status=''1'''),
  (5001, '2024-05-02 18:11:00', 'InvoiceNum=''5001'' TransType=''3'' Status=''0'''),
  (5002, '2024-05-02 09:00:00', 'InvoiceNum=''5002'' TransType=''3'' Status=''1''');
)SQL");
    db = Connect();
  }

  TJson Rows(const std::string& format, std::initializer_list<TFmtArg> args) {
    std::string json;
    db->QueryJSONFmt(format, args, json);
    if (json == "null") return nullptr;
    return Canonical(ParseJson(json));
  }
  static TJson Expect(const char* json) { return Canonical(ParseJson(json)); }
  int Count(const std::string& format, std::initializer_list<TFmtArg> args, const char* field) {
    return db->QueryInteger(FormatFmt(format, args), field);
  }
  int DetailCount(const std::string& format, std::initializer_list<TFmtArg> args) {
    TDBQuery q;
    db->OpenQueryFmt(format, args, q);
    int n = 0;
    for (; !q->Eof(); q->Next()) ++n;
    db->FreeQuery(q);
    return n;
  }

  IDBManagerPtr db;
};

// ---- invoice payload builder -------------------------------------------------

constexpr const char* kInvoiceQuery =
    "SELECT INVOICES.InvoiceNum, INVOICES.AfterDisc, INVOICES.Date, INVOICES.TimeDue, INVOICES.CustLink, "
    "INVOICES.OrderNum, INVOICES.InvoiceSource, INVOICES.IsPaidOnline, [OnlineOrderDetails].[ExternalID] AS "
    "[PeloraExternalID] FROM INVOICES LEFT JOIN [OnlineOrderDetails] ON [OnlineOrderDetails].[InvoiceNum] = "
    "INVOICES.InvoiceNum WHERE INVOICES.INVOICENUM = %d";
constexpr const char* kLineItemQuery = "SELECT Code, ItemDesc, Quantity FROM LINEITEM WHERE InvoiceNum = %d";
constexpr const char* kCustomerQuery =
    "SELECT InvLink, ISNULL( FirstName, '' ) AS FirstName, ISNULL( LastName, '' ) AS LastName, Telephone, Cell, "
    "Flat, CASE StreetNo WHEN '' THEN '0' ELSE StreetNo END StreetNo, StreetNames.Street, ISNULL( Suburb.Suburb, '' "
    ") Suburb, GridRef.GridRef, Coordinates FROM CUSTOMER LEFT JOIN STREET ON STREET.ID = CUSTOMER.StreetLink LEFT "
    "JOIN STREETNAMES ON STREETNAMES.ID = STREET.StreetRef LEFT JOIN SUBURB ON SUBURB.ID = STREET.SuburbRef LEFT "
    "JOIN GRIDREF ON GRIDREF.ID = STREET.GridRefLink WHERE InvLink = %d";

TEST_F(PosStatementsTest, InvoicePayloadQueries) {
  EXPECT_EQ(Rows(kInvoiceQuery, {5002}),
            Expect(R"([{"InvoiceNum":5002,"AfterDisc":12,"Date":"2024-05-02T18:05:00","TimeDue":"2024-05-02T18:20:00",
                       "CustLink":4,"OrderNum":18,"InvoiceSource":"WEB","IsPaidOnline":true,"PeloraExternalID":"PEL-1"}])"));
  EXPECT_EQ(Rows(kInvoiceQuery, {5001}),
            Expect(R"([{"InvoiceNum":5001,"AfterDisc":33.5,"Date":"2024-05-02T18:00:00","TimeDue":"2024-05-02T18:30:00",
                       "CustLink":1,"OrderNum":17,"InvoiceSource":"POS","IsPaidOnline":false,"PeloraExternalID":null}])"));
  EXPECT_EQ(Rows(kInvoiceQuery, {4999}), nullptr);

  EXPECT_EQ(Rows(kLineItemQuery, {5001}),
            Expect(R"([{"Code":"BG01","ItemDesc":"Burger","Quantity":2},{"Code":"DR01","ItemDesc":"Cola","Quantity":1}])"));
  EXPECT_EQ(Rows(kLineItemQuery, {5004}), nullptr);

  // Street with an empty number; no street at all; NULL number and last name, no grid reference;
  // a street name with '#'.
  EXPECT_EQ(Rows(kCustomerQuery, {2}),
            Expect(R"([{"InvLink":2,"FirstName":"Bob","LastName":"O'Brien","Telephone":"0394002222","Cell":"0412000222",
                       "Flat":"3","StreetNo":"0","Street":"Smith St","Suburb":"Fitzroy","GridRef":"B2","Coordinates":null}])"));
  EXPECT_EQ(Rows(kCustomerQuery, {4}),
            Expect(R"([{"InvLink":4,"FirstName":"Walk","LastName":"In","Telephone":null,"Cell":null,"Flat":null,
                       "StreetNo":null,"Street":null,"Suburb":"","GridRef":null,"Coordinates":null}])"));
  EXPECT_EQ(Rows(kCustomerQuery, {5}),
            Expect(R"([{"InvLink":5,"FirstName":"Dana","LastName":"","Telephone":"0394005555","Cell":null,"Flat":"1A",
                       "StreetNo":null,"Street":"High St","Suburb":"Brunswick","GridRef":null,"Coordinates":null}])"));
  EXPECT_EQ(Rows(kCustomerQuery, {3}),
            Expect(R"([{"InvLink":3,"FirstName":"Chloé","LastName":"Martin","Telephone":null,"Cell":"0412000333",
                       "Flat":"","StreetNo":"7","Street":"#Sydney Rd","Suburb":"Brunswick","GridRef":"C3","Coordinates":null}])"));
  EXPECT_EQ(Rows(kCustomerQuery, {99}), nullptr);
}

// ---- attendance and employees ----------------------------------------------------

constexpr const char* kSysData = "SELECT VALUE FROM SYSDATA WHERE CLASS = %s AND ITEM = %s";
constexpr const char* kCurrentAttend =
    "SELECT EMPLOYEE.EMPNUM as EmpNum, ATTEND.InDateTime, ATTEND.OutDateTime, ATTEND.ClockedOut, ATTEND.OnDelivery "
    "FROM EMPLOYEE LEFT JOIN ( SELECT EMPNUM, MAX( InDateTime ) AS MaxInDateTime FROM ATTEND WHERE InDateTime > %s "
    "AND InDateTime < %s GROUP BY EMPNUM ) ATT ON ATT.EMPNUM = EMPLOYEE.EMPNUM LEFT JOIN ATTEND ON ATTEND.EMPNUM = "
    "EMPLOYEE.EMPNUM AND ATTEND.InDateTime = ATT.MaxInDateTime WHERE DoesDeliveries = 1 AND ACTIVE = 1";
constexpr const char* kEmployeeAttend =
    "SELECT TOP 1 * FROM [Attend] WHERE [InDateTime] > %s AND [InDateTime] < %s AND [EmpNum] = %s ORDER BY "
    "[InDateTime] DESC";
constexpr const char* kEmployee = "SELECT * FROM EMPLOYEE WHERE EMPNUM = %s";
constexpr const char* kClockIn =
    "INSERT INTO [ATTEND] ( [EmpNum], [InDateTime], [HourlyRate], [KmRate], [OdoStart], [Float] ) VALUES ( %s, %s, "
    "%s, %s, %s, %s )";

TEST_F(PosStatementsTest, AttendanceAndEmployeeStatements) {
  EXPECT_EQ(db->QueryString(FormatFmt(kSysData, {QuotedStr("GLOBAL"), QuotedStr("DAY START")}), "VALUE"), "06:00");
  EXPECT_EQ(db->QueryString(FormatFmt(kSysData, {QuotedStr("GLOBAL"), QuotedStr("NO ITEM")}), "VALUE"), "");

  // The business day of 2 May 2024 from 06:00, bounds in the compact form.
  const std::string start = QuotedStr("20240502 06:00:00"), end = QuotedStr("20240503 06:00:00");
  TJson current = Rows(kCurrentAttend, {start, end});
  ASSERT_TRUE(current.is_array());
  std::sort(current.begin(), current.end(),
            [](const TJson& a, const TJson& b) { return a["empnum"].get<std::string>() < b["empnum"].get<std::string>(); });
  EXPECT_EQ(current, Expect(R"([
      {"EmpNum":"0042","InDateTime":"2024-05-02T17:00:00","OutDateTime":null,"ClockedOut":false,"OnDelivery":true},
      {"EmpNum":"0043","InDateTime":null,"OutDateTime":null,"ClockedOut":null,"OnDelivery":null},
      {"EmpNum":"0044","InDateTime":"2024-05-02T16:00:00","OutDateTime":null,"ClockedOut":false,"OnDelivery":false}])"));

  EXPECT_EQ(Rows(kEmployeeAttend, {start, end, QuotedStr("0042")}),
            Expect(R"([{"InvoiceLink":3,"EmpNum":"0042","InDateTime":"2024-05-02T17:00:00","OutDateTime":null,
                       "ClockedOut":false,"OnDelivery":true,"HourlyRate":25.5,"KmRate":0.85,"OdoStart":1200,
                       "OdoEnd":null,"Float":20}])"));
  // A row starting exactly on the bound is outside; 0043's rows are all outside.
  EXPECT_EQ(Rows(kEmployeeAttend, {QuotedStr("20240502 17:00:00"), end, QuotedStr("0042")}), nullptr);
  EXPECT_EQ(Rows(kEmployeeAttend, {start, end, QuotedStr("0043")}), nullptr);

  TJson employee = Rows(kEmployee, {QuotedStr("0042")});
  ASSERT_EQ(employee.size(), 1u);
  EXPECT_EQ(employee[0]["hourlyrate"], 25.5);
  EXPECT_EQ(employee[0]["doesdeliveries"], true);
  EXPECT_EQ(employee[0]["password"], "drive42");
  EXPECT_EQ(Rows(kEmployee, {QuotedStr("O'Neil")}), nullptr);

  EXPECT_TRUE(db->ExecuteFmt(kClockIn, {QuotedStr("0043"), QuotedStr("20240502 18:00:00"), "0.0000000000",
                                        "0.0000000000", "0.0000000000", "0.0000000000"}));
  EXPECT_EQ(Rows(kEmployeeAttend, {start, end, QuotedStr("0043")}),
            Expect(R"([{"InvoiceLink":8,"EmpNum":"0043","InDateTime":"2024-05-02T18:00:00","OutDateTime":null,
                       "ClockedOut":false,"OnDelivery":false,"HourlyRate":0,"KmRate":0,"OdoStart":0,"OdoEnd":null,
                       "Float":0}])"));
}

// ---- new invoices, transitions, overrings, hand-overs -------------------------------

TEST_F(PosStatementsTest, NewInvoiceStatements) {
  const char* seed = "SELECT ISNULL( MAX( InvoiceNum ), -1 ) AS LastInvoiceNum FROM INVOICES";
  EXPECT_EQ(db->QueryInteger(seed, "LastInvoiceNum"), 5005);
  EXPECT_EQ(Count("SELECT COUNT(1) AS InvoiceCount FROM INVOICES WHERE INVOICENUM > %d AND TransType = 3", {5000},
                  "InvoiceCount"),
            3);
  EXPECT_EQ(Rows("SELECT InvoiceNum, AfterDisc, Date, CustLink FROM INVOICES WHERE INVOICENUM > %d AND TRANSTYPE = 3 "
                 "ORDER BY INVOICENUM",
                 {5001}),
            Expect(R"([{"InvoiceNum":5003,"AfterDisc":20.25,"Date":"2024-05-02T18:06:00","CustLink":2},
                       {"InvoiceNum":5004,"AfterDisc":8,"Date":"2024-05-02T18:07:00","CustLink":3}])"));
  Sql("DELETE FROM INVOICES");
  EXPECT_EQ(db->QueryInteger(seed, "LastInvoiceNum"), -1);
}

// The transition and overring trackers' statements, as they send them.
TEST_F(PosStatementsTest, TransitionStatements) {
  const TTransitionStatements& c2d = CollectToDeliveryStatements();
  const TTransitionStatements& d2c = DeliveryToCollectStatements();
  const std::string noon = db->DateTimeToSQL(EncodeDateTime(2024, 5, 2, 12, 0, 0));
  EXPECT_EQ(Count(c2d.count, {noon}, "InvoiceCount"), 1);
  EXPECT_EQ(Rows(c2d.detail, {noon}),
            Expect(R"([{"InvoiceNum":5004,"AfterDisc":8,"Date":"2024-05-02T18:07:00","CustLink":3,
                        "TimeStamp":"2024-05-02T18:10:00"}])"));
  EXPECT_EQ(Count(d2c.count, {noon}, "InvoiceCount"), 1);
  EXPECT_EQ(Rows(d2c.detail, {noon}), Expect(R"([{"InvoiceNum":5005,"TimeStamp":"2024-05-02T18:12:00"}])"));

  // Rows are read from the watermark's own second on: the 18:12:00.400 row
  // with a watermark of 18:12:00, the 18:10:00 row with one of 18:10:00; one
  // second later they are not.
  struct Case {
    const TTransitionStatements* statements;
    TDateTime watermark;
    int rows;
  };
  const Case cases[] = {
      {&d2c, EncodeDateTime(2024, 5, 2, 18, 12, 0), 1},
      {&d2c, EncodeDateTime(2024, 5, 2, 18, 12, 1), 0},
      {&c2d, EncodeDateTime(2024, 5, 2, 18, 10, 0), 1},
      {&c2d, EncodeDateTime(2024, 5, 2, 18, 10, 1), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(DateTimeToIso(c.watermark));
    const std::string literal = db->DateTimeToSQL(c.watermark);
    EXPECT_EQ(Count(c.statements->count, {literal}, "InvoiceCount"), c.rows);
    EXPECT_EQ(DetailCount(c.statements->detail, {literal}), c.rows);
  }
}

TEST_F(PosStatementsTest, OverringStatements) {
  EXPECT_EQ(db->QueryInteger("SELECT ISNULL( MAX( ActivityID ), -1 ) AS LastActivity FROM ACTIVITY", "LastActivity"),
            880007);
  // Collection, Status 0, 'Cancelled' and another code are not counted; case does not matter.
  EXPECT_EQ(Count(OverringCountStatement(), {880000}, "InvoiceCount"), 2);
  EXPECT_EQ(Rows(OverringDetailStatement(), {880000}),
            Expect(R"([{"INVOICENUM":5001,"DATE":"2024-05-02T18:30:00","ACTIVITYID":880001},
                       {"INVOICENUM":5004,"DATE":"2024-05-02T18:35:00","ACTIVITYID":880006}])"));
  EXPECT_EQ(Count(OverringCountStatement(), {880006}, "InvoiceCount"), 0);
  Sql("DELETE FROM ACTIVITY");
  EXPECT_EQ(db->QueryInteger("SELECT ISNULL( MAX( ActivityID ), -1 ) AS LastActivity FROM ACTIVITY", "LastActivity"),
            -1);
}

// ---- free text that is not what the POS normally writes ------------------------------

// The unguarded expressions: on the server (and on the embedded POS, which
// refuses the same values) they fail for some texts.
constexpr const char* kPlainOverringNumber = "CAST( SUBSTRING( ACTIVITY, 9, PATINDEX( '%%O/R%%', ACTIVITY ) - 10 ) AS INT )";
constexpr const char* kPlainAuditTransType =
    "CAST( SUBSTRING( Data, PATINDEX( '%%TRANSTYPE=%%', Data ) + 11, 1 ) AS INT )";

// One text at a time: the plain expression's value (or its failure) and the
// guarded one's. The guarded value equals the plain one wherever the text is
// what the POS writes, and is NULL (matching nothing) where the plain one
// fails or reads something that is not an invoice number or TransType.
TEST_F(PosStatementsTest, GuardedNumbersNeverFailAndMatchThePlainOnesOnWellFormedText) {
  struct Case {
    const char* table;
    const char* text;   // nullptr: NULL
    const char* plain;  // JSON value, or nullptr when the plain expression fails
    const char* guarded;
  };
  const Case cases[] = {
      {"ACTIVITY", "Invoice 1045 O/R", "1045", "1045"},
      {"ACTIVITY", "INVOICE 77 o/r", "77", "77"},
      {"ACTIVITY", "Invoice  1046  O/R", "1046", "1046"},
      {"ACTIVITY", "Invoice 0012 O/R again", "12", "12"},
      {"ACTIVITY", "Invoice 2147483647 O/R", "2147483647", "2147483647"},
      {"ACTIVITY", "Invoice O/R", nullptr, "null"},   // length -1
      {"ACTIVITY", "InvoiceO/R", nullptr, "null"},    // length -2
      {"ACTIVITY", "Shift closed", nullptr, "null"},  // no O/R: length -10
      {"ACTIVITY", "Invoice abc O/R", nullptr, "null"},
      {"ACTIVITY", "Invoice 12x O/R", nullptr, "null"},
      {"ACTIVITY", "Invoice 1 2 O/R", nullptr, "null"},
      {"ACTIVITY", "Invoice 1.5 O/R", nullptr, "null"},
      {"ACTIVITY", "Invoice \xC2\xB2 O/R", nullptr, "null"},  // a superscript two
      {"ACTIVITY", "Invoice 2147483648 O/R", nullptr, "null"},
      {"ACTIVITY", "Invoice 99999999999 O/R", nullptr, "null"},
      {"ACTIVITY", "Invoice  O/R", "0", "null"},    // nothing between: not invoice 0
      {"ACTIVITY", "Invoice -5 O/R", "-5", "null"},  // not a number the POS writes
      {"ACTIVITY", nullptr, "null", "null"},
      {"InvoicesAudit", "InvoiceNum='5004' TransType='2' Status='1'", "2", "2"},
      {"InvoicesAudit", "TRANSTYPE='3'", "3", "3"},
      {"InvoicesAudit", "InvoiceNum='5004'", nullptr, "null"},  // no TransType: reads the '='
      {"InvoicesAudit", "InvoiceNum2 Status='1'", "2", "null"},  // no TransType: reads a digit of something else
      {"InvoicesAudit", "TransType='x'", nullptr, "null"},
      {"InvoicesAudit", "TransType='\xC2\xB2'", nullptr, "null"},
      {"InvoicesAudit", "TransType=", "0", "null"},
      {"InvoicesAudit", nullptr, "null", "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "NULL");
    const std::string table = c.table;
    const bool activity = table == "ACTIVITY";
    Sql("DELETE FROM " + table);
    const std::string value = c.text ? QuotedStr(c.text) : "NULL";
    Sql(activity ? "INSERT INTO ACTIVITY (DATE, ACTCODE, ACTIVITY) VALUES ('2024-05-02 19:00:00', 'EX040', " + value + ")"
                 : "INSERT INTO InvoicesAudit (InvoiceNum, TimeStamp, Data) VALUES (5004, '2024-05-02 19:00:00', " +
                       value + ")");
    const std::string plain = activity ? kPlainOverringNumber : kPlainAuditTransType;
    const std::string guarded = activity ? OverringInvoiceExpression() : AuditTransTypeExpression();
    const std::string from = " AS N FROM " + table;
    if (c.plain) {
      EXPECT_EQ(Rows("SELECT " + plain + from, {}), Expect((std::string(R"([{"N":)") + c.plain + "}]").c_str()));
    } else {
      EXPECT_THROW(Rows("SELECT " + plain + from, {}), EDBError);
    }
    EXPECT_EQ(Rows("SELECT " + guarded + from, {}), Expect((std::string(R"([{"N":)") + c.guarded + "}]").c_str()));
  }
}

// Hostile lines that pass every other condition, side by side with overrings
// that count: the plain statement fails, the service's statements read
// exactly the overrings.
TEST_F(PosStatementsTest, HostileActivityLinesCannotFailTheOverringStatements) {
  Sql(R"SQL(
INSERT INTO INVOICES (InvoiceNum, TransType, Status, Date) VALUES (2147483647, 3, 1, '2024-05-02 18:09:00');
INSERT INTO ACTIVITY (ActivityID, DATE, ACTCODE, ACTIVITY) VALUES
  (880010, '2024-05-02 19:00:00', 'EX040', 'Invoice O/R'),
  (880011, '2024-05-02 19:00:01', 'EX040', 'Invoice  5001  O/R'),
  (880012, '2024-05-02 19:00:02', 'EX040', 'Invoice abc O/R'),
  (880013, '2024-05-02 19:00:03', 'EX040', 'Invoice 99999999999 O/R'),
  (880014, '2024-05-02 19:00:04', 'EX040', 'InvoiceO/R'),
  (880015, '2024-05-02 19:00:05', 'EX040', 'Invoice 2147483647 O/R'),
  (880016, '2024-05-02 19:00:06', 'EX040', 'Invoice 5004x O/R'),
  (880017, '2024-05-02 19:00:07', 'EX040', NULL),
  (880018, '2024-05-02 19:00:08', 'EX040', 'Shift closed'),
  (880019, '2024-05-02 19:00:09', 'LOGIN', 'Login Morgan');
)SQL");
  const std::string plainCount =
      std::string("SELECT COUNT(1) AS InvoiceCount FROM ACTIVITY JOIN INVOICES ON INVOICES.INVOICENUM = ") +
      kPlainOverringNumber +
      " WHERE ACTIVITYID > %d AND ACTCODE = 'EX040' AND ACTIVITY LIKE 'Invoice%%O/R%%' AND ACTIVITY NOT LIKE "
      "'%%cancel%%' AND INVOICES.TRANSTYPE = 3 AND INVOICES.STATUS > 0";
  EXPECT_THROW(Count(plainCount, {880009}, "InvoiceCount"), EDBError);
  EXPECT_EQ(Count(OverringCountStatement(), {880009}, "InvoiceCount"), 2);
  EXPECT_EQ(Rows(OverringDetailStatement(), {880009}),
            Expect(R"([{"INVOICENUM":5001,"DATE":"2024-05-02T19:00:01","ACTIVITYID":880011},
                       {"INVOICENUM":2147483647,"DATE":"2024-05-02T19:00:05","ACTIVITYID":880015}])"));
}

// Audit rows whose Data holds no TransType digit, for invoices of both kinds:
// the plain statements fail, the service's statements read the real changes.
TEST_F(PosStatementsTest, HostileAuditDataCannotFailTheTransitionStatements) {
  Sql(R"SQL(
INSERT INTO InvoicesAudit (InvoiceNum, TimeStamp, Data) VALUES
  (5001, '2024-05-02 18:20:00', 'InvoiceNum=''5001'''),
  (5002, '2024-05-02 18:20:01', 'TransType=''x'''),
  (5004, '2024-05-02 18:20:02', NULL),
  (5005, '2024-05-02 18:20:03', 'TransType=');
)SQL");
  const std::string noon = db->DateTimeToSQL(EncodeDateTime(2024, 5, 2, 12, 0, 0));
  for (int current : {3, 2}) {
    const std::string plain = "SELECT COUNT(1) AS InvoiceCount FROM InvoicesAudit JOIN INVOICES ON "
                              "INVOICES.INVOICENUM = InvoicesAudit.InvoiceNum WHERE INVOICES.TRANSTYPE = " +
                              std::to_string(current) + " AND " + kPlainAuditTransType + " = " +
                              std::to_string(5 - current) + " AND InvoicesAudit.TimeStamp > %s";
    EXPECT_THROW(Count(plain, {noon}, "InvoiceCount"), EDBError) << current;
  }
  EXPECT_EQ(Rows(CollectToDeliveryStatements().detail, {noon}),
            Expect(R"([{"InvoiceNum":5004,"AfterDisc":8,"Date":"2024-05-02T18:07:00","CustLink":3,
                        "TimeStamp":"2024-05-02T18:10:00"}])"));
  EXPECT_EQ(Rows(DeliveryToCollectStatements().detail, {noon}),
            Expect(R"([{"InvoiceNum":5005,"TimeStamp":"2024-05-02T18:12:00"}])"));
}

TEST_F(PosStatementsTest, DriverAssignedStatements) {
  const TDateTime last = EncodeDateTime(2024, 5, 2, 18, 40, 9);  // the 18:40:09.600 hand-over, whole seconds
  EXPECT_EQ(Count("SELECT COUNT(1) InvoiceCount FROM INVOICES WHERE [TimeToDrvr] >= %s",
                  {db->DateTimeToSQL(IncSecond(last, 1))}, "InvoiceCount"),
            1);
  const std::string fromMidnight = db->DateTimeToSQL(IncSecond(EncodeDateTime(2024, 5, 2), 1));
  EXPECT_EQ(Rows("SELECT InvoiceNum, TimeToDrvr AS TimeStamp, Driver AS DriverEmpnum FROM INVOICES WHERE [TimeToDrvr] "
                 ">= %s ORDER BY [TimeToDrvr]",
                 {fromMidnight}),
            Expect(R"([{"InvoiceNum":5001,"TimeStamp":"2024-05-02T18:40:09","DriverEmpnum":"0042"},
                       {"InvoiceNum":5003,"TimeStamp":"2024-05-02T18:45:00","DriverEmpnum":"0044"}])"));
}

// ---- remote changes written back -----------------------------------------------------

constexpr const char* kAssign = "UPDATE INVOICES SET Driver = %s, TimeToDrvr = %s WHERE InvoiceNum = %s";
constexpr const char* kDriverLink =
    "UPDATE INVOICES SET DriverLink = MAX_ATTEND.DriverLink FROM ( SELECT MAX( ATTEND.InvoiceLink ) AS DriverLink FROM "
    "ATTEND WHERE EMPNUM = %s AND InDateTime > CAST( %s AS DATETIME ) AND ISNULL( OutDateTime, DATEADD( MINUTE, 10, "
    "GETDATE() ) ) >= %s ) MAX_ATTEND WHERE INVOICENUM = %s";

TEST_F(PosStatementsTest, RemoteDeliveryChangeStatements) {
  const char* row = "SELECT Driver, TimeToDrvr, DriverLink, TimeStampDriver, TIMEATCUST FROM INVOICES WHERE InvoiceNum = %d";
  struct Case {
    std::string driver;
    int invoice;
    TDateTime assigned;
    const char* expected;
  };
  const Case cases[] = {
      // 0043's open row began 23:50 the day before: not linked; today's 17:55 row is.
      {"0043", 5004, EncodeDateTime(2024, 5, 2, 18, 50, 0),
       R"([{"Driver":"0043","TimeToDrvr":"2024-05-02T18:50:00","DriverLink":9,"TimeStampDriver":null,"TIMEATCUST":null}])"},
      // 0042: rows ended 09:00 and 12:00 do not count, the open 17:00 row does.
      {"0042", 5003, EncodeDateTime(2024, 5, 2, 18, 55, 0),
       R"([{"Driver":"0042","TimeToDrvr":"2024-05-02T18:55:00","DriverLink":3,"TimeStampDriver":null,"TIMEATCUST":null}])"},
      // 0042 at 11:00: the 10:00-12:00 row qualifies, and so does the later open
      // 17:00 row (the statement does not bound the start); the highest wins.
      {"0042", 5001, EncodeDateTime(2024, 5, 2, 11, 0, 0),
       R"([{"Driver":"0042","TimeToDrvr":"2024-05-02T11:00:00","DriverLink":3,"TimeStampDriver":null,"TIMEATCUST":null}])"},
      // No driver: Driver empty, no attendance row matches.
      {"", 5005, EncodeDateTime(2024, 5, 2, 19, 0, 0),
       R"([{"Driver":"","TimeToDrvr":"2024-05-02T19:00:00","DriverLink":null,"TimeStampDriver":null,"TIMEATCUST":null}])"},
  };
  Sql("INSERT INTO ATTEND (InvoiceLink, EmpNum, InDateTime, ClockedOut, OnDelivery) VALUES "
      "(9, '0043', '2024-05-02 17:55:00', 0, 0)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.invoice);
    const std::string number = std::to_string(c.invoice);
    EXPECT_TRUE(db->ExecuteFmt(kAssign, {QuotedStr(c.driver), db->DateTimeToSQL(c.assigned), number}));
    EXPECT_TRUE(db->ExecuteFmt(kDriverLink, {QuotedStr(c.driver), db->DateToSQL(c.assigned),
                                             db->DateTimeToSQL(c.assigned), number}));
    EXPECT_EQ(Rows(row, {c.invoice}), Expect(c.expected));
  }
  EXPECT_TRUE(db->ExecuteFmt("UPDATE INVOICES Set TimeStampDriver = %s WHERE InvoiceNum = %s",
                             {db->DateTimeToSQL(EncodeDateTime(2024, 5, 2, 19, 5, 0)), "5004"}));
  EXPECT_TRUE(db->ExecuteFmt("UPDATE INVOICES Set TIMEATCUST = %s WHERE InvoiceNum = %s",
                             {db->DateTimeToSQL(EncodeDateTime(2024, 5, 2, 19, 20, 0)), "5004"}));
  EXPECT_EQ(Rows(row, {5004}),
            Expect(R"([{"Driver":"0043","TimeToDrvr":"2024-05-02T18:50:00","DriverLink":9,
                       "TimeStampDriver":"2024-05-02T19:05:00","TIMEATCUST":"2024-05-02T19:20:00"}])"));
}

TEST_F(PosStatementsTest, RemoteDriverChangeStatements) {
  const char* flag = "SELECT OnDelivery FROM ATTEND WHERE InvoiceLink = %d";
  EXPECT_TRUE(db->ExecuteFmt("UPDATE attend SET OnDelivery = 0 WHERE InvoiceLink = %d", {3}));
  EXPECT_EQ(Rows(flag, {3}), Expect(R"([{"OnDelivery":false}])"));
  EXPECT_TRUE(db->ExecuteFmt("UPDATE attend SET OnDelivery = 1 WHERE InvoiceLink = %d", {6}));
  EXPECT_EQ(Rows(flag, {6}), Expect(R"([{"OnDelivery":true}])"));
}

TEST_F(PosStatementsTest, DriverSynchronisationQuery) {
  EXPECT_EQ(Rows("SELECT EmpNum, ISNULL( Telephone, '' ) AS Telephone, ISNULL( LastName, '' ) AS LastName, FirstName, "
                 "Password FROM EMPLOYEE WHERE ACTIVE = 1 AND DoesDeliveries = 1 ORDER BY LastName, FirstName",
                 {}),
            Expect(R"([
      {"EmpNum":"0044","Telephone":"","LastName":"","FirstName":"Max","Password":"max44"},
      {"EmpNum":"0042","Telephone":"0412004242","LastName":"Driver","FirstName":"Sam","Password":"drive42"},
      {"EmpNum":"0043","Telephone":"0412004343","LastName":"Wheels","FirstName":"Jo","Password":"Secret43"}])"));
}

}  // namespace
}  // namespace courio::test
