// The order document built from the embedded POS through the real ODBC path.
#include "pos/implPlinthInvoices.hpp"

#include "PosTestSupport.hpp"

namespace courio {
namespace {

class PlinthInvoicesTest : public test::PosFixture {
 protected:
  void SetUp() override {
    PosFixture::SetUp();
    ASSERT_TRUE(PlinthDI().CreateNamedInstance("plinth", db_));
    db_->Connect();
    builder_.Configure(db_, 17);
  }
  // An invoice of our own with full control of every column.
  void Invoice(int num, const std::string& date, const std::string& due, const std::string& custLink = "1",
               const std::string& extra = "") {
    possim::ExecSql(dbPath, "INSERT INTO INVOICES (InvoiceNum, TransType, Date, TimeDue, CustLink, OrderNum, "
                            "InvoiceSource, IsPaidOnline, AfterDisc) VALUES (" +
                                std::to_string(num) + ", 3, " + date + ", " + due + ", " + custLink +
                                ", 42, 'WEB', 1, 23.5);"
                                "INSERT INTO LINEITEM (InvoiceNum, Code, ItemDesc, Quantity) VALUES (" +
                                std::to_string(num) + ", 'B1', 'Burger', 2), (" + std::to_string(num) +
                                ", 'C1', 'Cola', 1);" + extra);
  }
  TJson Build(int num) {
    TJson doc;
    builder_.GetInvoiceData(num, doc);
    return doc;
  }
  IDBManagerPtr db_;
  TPlinthInvoices builder_;
};

TEST_F(PlinthInvoicesTest, FullDocumentHasEveryKeyInOrderWithItsType) {
  Invoice(5001, "'2024-03-05 14:07:09'", "'2024-03-05 14:15:00'", "1",
          "INSERT INTO OnlineOrderDetails (InvoiceNum, ExternalID) VALUES (5001, 'PEL-77');");
  EXPECT_EQ(JsonDump(Build(5001)),
            R"({"external_id":"plinth-5001","store_id":"17","driver_id":-1,)"
            R"("delivery_details":"2 x Burger\r\n1 x Cola\r\n","source":"PLINTH-WEB","order_num":42,)"
            R"("delivery_value":23.5,"delivery_date":"2024-03-05","delivery_time":" 14:07:09",)"
            R"("delivery_zone":"A1","customer_id":-1,"paid":true,)"
            R"("customer":{"first_name":"Alice","last_name":"Nguyen","mobile_number":"0412000111",)"
            R"("home_number":"0394001111","external_id":"plinth-1","address":"12 High St, Northcote",)"
            R"("delivery_instructions":" 12 High St, Northcote","gps_coords":"-37.7701,144.9990"},)"
            R"("integrations":{"plinth":{"id":5001},"pelora":{"id":"PEL-77"}}})");
  auto lines = logModule->Lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("[TPlinthInvoices.GetInvoiceData] Result : {\"external_id\":\"plinth-5001\"", 0) == 0;
  }));
}

TEST_F(PlinthInvoicesTest, DeliveryMomentIsTimeDueOnlyWhenMoreThanTwelveAndAHalfMinutesAway) {
  struct Case {
    const char* due;
    const char* date;
    const char* time;
  };
  const Case cases[] = {
      {"'2024-03-05 14:19:09'", "2024-03-05", " 14:07:09"},  // 12 minutes after
      {"'2024-03-05 14:19:39'", "2024-03-05", " 14:07:09"},  // exactly 12.5 minutes
      {"'2024-03-05 14:20:09'", "2024-03-05", " 14:20:09"},  // 13 minutes after
      {"'2024-03-05 13:54:09'", "2024-03-05", " 13:54:09"},  // 13 minutes before
      {"'2024-03-05 13:55:09'", "2024-03-05", " 14:07:09"},  // 12 minutes before
      {"'2024-03-06 00:30:00'", "2024-03-06", " 00:30:00"},  // the next day
  };
  int num = 6000;
  for (const auto& c : cases) {
    Invoice(++num, "'2024-03-05 14:07:09'", c.due);
    TJson doc = Build(num);
    EXPECT_EQ(doc["delivery_date"], c.date) << c.due;
    EXPECT_EQ(doc["delivery_time"], c.time) << c.due;
  }
}

TEST_F(PlinthInvoicesTest, CustomerAddressForms) {
  // Customers 2 (empty StreetNo), 3 (street "#Sydney Rd"), 4 (no street link).
  possim::ExecSql(dbPath, "INSERT INTO CUSTOMER VALUES (50, 'Nil', 'Number', NULL, NULL, '2', NULL, 1, NULL)");
  Invoice(7002, "'2024-03-05 14:07:09'", "'2024-03-05 14:07:09'", "2");
  Invoice(7003, "'2024-03-05 14:07:09'", "'2024-03-05 14:07:09'", "3");
  Invoice(7004, "'2024-03-05 14:07:09'", "'2024-03-05 14:07:09'", "4");
  Invoice(7050, "'2024-03-05 14:07:09'", "'2024-03-05 14:07:09'", "50");
  TJson emptyNo = Build(7002)["customer"];
  EXPECT_EQ(emptyNo["address"], "0 Smith St, Fitzroy");
  EXPECT_EQ(emptyNo["delivery_instructions"], "3 0 Smith St, Fitzroy");
  TJson hashed = Build(7003)["customer"];
  EXPECT_EQ(hashed["address"], "7 Sydney Rd, Brunswick");
  EXPECT_EQ(hashed["delivery_instructions"], " 7 #Sydney Rd, Brunswick");
  EXPECT_EQ(hashed["last_name"], "Martin");
  EXPECT_EQ(hashed["first_name"], "Chlo\xC3\xA9") << "non-ASCII text arrives as UTF-8";
  TJson walkIn = Build(7004);
  EXPECT_EQ(JsonDump(walkIn["customer"]),
            R"({"first_name":"Walk","last_name":"In","mobile_number":"","home_number":""})");
  EXPECT_TRUE(walkIn["delivery_zone"].is_null());
  EXPECT_EQ(JsonDump(walkIn["integrations"]), R"({"plinth":{"id":7004}})");
  TJson nullNo = Build(7050)["customer"];
  EXPECT_EQ(nullNo["address"], " High St, Northcote") << "a NULL street number leaves a leading blank";
  EXPECT_EQ(nullNo["delivery_instructions"], "2  High St, Northcote");
}

TEST_F(PlinthInvoicesTest, MissingOrNullSourcesFailTheBuild) {
  Invoice(8001, "'2024-03-05 14:07:09'", "NULL");                          // null TimeDue
  Invoice(8002, "'2024-03-05 14:07:09'", "'2024-03-05 14:07:09'", "999");  // no customer
  Invoice(8003, "'2024-03-05 14:07:09'", "'2024-03-05 14:07:09'", "NULL"); // null CustLink
  possim::ExecSql(dbPath, "INSERT INTO INVOICES (InvoiceNum, Date, TimeDue, CustLink) VALUES "
                          "(8004, '2024-03-05 14:07:09', '2024-03-05 14:07:09', 1)");  // no line items
  for (int num : {8001, 8002, 8003, 8004, 9999}) EXPECT_THROW(Build(num), std::exception) << num;
  TPlinthInvoices unconfigured;
  TJson doc;
  EXPECT_THROW(unconfigured.GetInvoiceData(8001, doc), std::logic_error);
}

TEST_F(PlinthInvoicesTest, EmptyPeloraIdAndStoreIdFormsAndPaidFlag) {
  Invoice(9001, "'2024-03-05 14:07:09'", "'2024-03-05 14:07:09'", "1",
          "INSERT INTO OnlineOrderDetails (InvoiceNum, ExternalID) VALUES (9001, '');"
          "UPDATE INVOICES SET IsPaidOnline = 0, AfterDisc = 0, OrderNum = NULL WHERE InvoiceNum = 9001;");
  TPlinthInvoices other;
  other.Configure(db_, -3);
  TJson doc;
  other.GetInvoiceData(9001, doc);
  EXPECT_EQ(doc["store_id"], "-3");
  EXPECT_EQ(JsonDump(doc["integrations"]), R"({"plinth":{"id":9001}})");
  EXPECT_EQ(doc["paid"], false);
  EXPECT_EQ(JsonDump(doc["delivery_value"]), "0");
  EXPECT_TRUE(doc["order_num"].is_null());
}

}  // namespace
}  // namespace courio
