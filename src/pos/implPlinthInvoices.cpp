#include "pos/implPlinthInvoices.hpp"

#include <cmath>
#include <stdexcept>

#include "common/log/LogFacility.hpp"
#include "common/util/StrUtils.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/log/intfLogManager.hpp"

namespace courio {
namespace {

constexpr const char* kInvoiceQuery =
    "SELECT INVOICES.InvoiceNum, INVOICES.AfterDisc, INVOICES.Date, INVOICES.TimeDue, INVOICES.CustLink, "
    "INVOICES.OrderNum, INVOICES.InvoiceSource, INVOICES.IsPaidOnline, [OnlineOrderDetails].[ExternalID] AS "
    "[PeloraExternalID] FROM INVOICES LEFT JOIN [OnlineOrderDetails] ON [OnlineOrderDetails].[InvoiceNum] = "
    "INVOICES.InvoiceNum WHERE INVOICES.INVOICENUM = %d";
constexpr const char* kLineItemQuery = "SELECT Code, ItemDesc, Quantity FROM LINEITEM WHERE InvoiceNum = %d";
constexpr const char* kCustomerQuery =
    "SELECT InvLink, ISNULL( FirstName, '' ) AS FirstName, ISNULL( LastName, '' ) AS LastName, Telephone, Cell, "
    "Flat, CASE StreetNo WHEN '' THEN '0' ELSE StreetNo END StreetNo, StreetNames.Street, ISNULL( Suburb.Suburb, "
    "'' ) Suburb, GridRef.GridRef, Coordinates FROM CUSTOMER LEFT JOIN STREET ON STREET.ID = CUSTOMER.StreetLink "
    "LEFT JOIN STREETNAMES ON STREETNAMES.ID = STREET.StreetRef LEFT JOIN SUBURB ON SUBURB.ID = STREET.SuburbRef "
    "LEFT JOIN GRIDREF ON GRIDREF.ID = STREET.GridRefLink WHERE InvLink = %d";

// The rows of a query as a JSON array (empty when there is none).
TJson QueryRows(IDBManager& db, const char* format, long long key) {
  std::string json;
  db.QueryJSONFmt(format, {key}, json);
  TJson rows;
  if (!TryParseJson(json, rows) || !rows.is_array()) return TJson::array();
  return rows;
}

TDateTime StrictTime(const TJson& row, const char* field) {
  return IsoToDateTime(JsonAsStrictText(JsonGet(row, field), field));
}

}  // namespace

void TPlinthInvoices::Configure(IDBManagerPtr db, int32_t storeId) {
  db_ = std::move(db);
  storeId_ = storeId;
}

void TPlinthInvoices::GetInvoiceData(int32_t invoiceNum, TJson& data) {
  data = TJson::object();
  data["external_id"] = "plinth-" + std::to_string(invoiceNum);
  data["store_id"] = std::to_string(storeId_);
  data["driver_id"] = -1;
  if (!db_) throw std::logic_error("TPlinthInvoices is not configured: no database manager");

  Log(TLogLevel::Info, "[TPlinthInvoices.GetInvoiceData] Getting Invoice : %", {invoiceNum});
  TJson invoices = QueryRows(*db_, kInvoiceQuery, invoiceNum);
  if (invoices.empty()) throw std::runtime_error("Invoice " + std::to_string(invoiceNum) + " not found");
  const TJson& invoice = invoices[0];

  Log(TLogLevel::Info, "[TPlinthInvoices.GetInvoiceData] Getting Line Items : %", {invoiceNum});
  TJson items = QueryRows(*db_, kLineItemQuery, invoiceNum);
  if (items.empty()) throw std::runtime_error("Invoice " + std::to_string(invoiceNum) + " has no line items");

  const TJson& custLink = JsonGet(invoice, "CustLink");
  Log(TLogLevel::Info, "[TPlinthInvoices.GetInvoiceData] Getting Customer : %", {JsonAsText(custLink)});
  if (custLink.is_null()) throw std::runtime_error("Invoice " + std::to_string(invoiceNum) + " has no CustLink");
  TJson customers = QueryRows(*db_, kCustomerQuery, JsonAsInt(custLink));
  if (customers.empty())
    throw std::runtime_error("Customer " + JsonAsText(custLink) + " of invoice " + std::to_string(invoiceNum) +
                             " not found");
  const TJson& customer = customers[0];

  std::string details;
  for (const auto& item : items)
    details += FormatFmt("%s x %s", {JsonAsStrictText(JsonGet(item, "Quantity"), "Quantity"),
                                     JsonAsText(JsonGet(item, "ItemDesc"))}) + "\r\n";
  data["delivery_details"] = details;
  data["source"] = "PLINTH-" + JsonAsText(JsonGet(invoice, "InvoiceSource"));
  data["order_num"] = JsonGet(invoice, "OrderNum");
  data["delivery_value"] = JsonGet(invoice, "AfterDisc");

  TDateTime due = StrictTime(invoice, "TimeDue");
  TDateTime date = StrictTime(invoice, "Date");
  TDateTime moment = std::fabs(due - date) * 24 * 60 > kDueToleranceMinutes ? due : date;
  data["delivery_date"] = FormatDateTime("yyyy-mm-dd", moment);
  data["delivery_time"] = FormatDateTime(" hh:nn:ss", moment);

  data["delivery_zone"] = JsonGet(customer, "GridRef");
  data["customer_id"] = -1;
  data["paid"] = JsonGet(invoice, "IsPaidOnline");

  TJson c = TJson::object();
  c["first_name"] = JsonAsText(JsonGet(customer, "FirstName"));
  c["last_name"] = JsonAsText(JsonGet(customer, "LastName"));
  c["mobile_number"] = JsonAsText(JsonGet(customer, "Cell"));
  c["home_number"] = JsonAsText(JsonGet(customer, "Telephone"));
  const TJson& street = JsonGet(customer, "Street");
  if (!street.is_null()) {
    std::string streetNo = JsonAsText(JsonGet(customer, "StreetNo"));
    c["external_id"] = FormatFmt("plinth-%d", {JsonAsInt(JsonGet(customer, "InvLink"))});
    c["address"] = streetNo + " " + ReplaceAll(JsonAsStrictText(street, "Street"), "#", "") + ", " +
                   ReplaceAll(JsonAsStrictText(JsonGet(customer, "Suburb"), "Suburb"), "#", "");
    c["delivery_instructions"] = JsonAsText(JsonGet(customer, "Flat")) + " " + streetNo + " " + JsonAsText(street) +
                                 ", " + JsonAsText(JsonGet(customer, "Suburb"));
  }
  const TJson& coordinates = JsonGet(customer, "Coordinates");
  if (!coordinates.is_null()) c["gps_coords"] = JsonAsText(coordinates);
  data["customer"] = std::move(c);

  TJson integrations = TJson::object();
  integrations["plinth"] = {{"id", invoiceNum}};
  std::string pelora = JsonAsText(JsonGet(invoice, "PeloraExternalID"));
  if (!pelora.empty()) integrations["pelora"] = {{"id", pelora}};
  data["integrations"] = std::move(integrations);

  ManagerLogFmt("[TPlinthInvoices.GetInvoiceData] Result : %s", {JsonDump(data)});
}

void RegisterPlinthInvoices(IPlinthDI& di) { di.AddFactory(IPlinthInvoices::IID, MakeFactory<TPlinthInvoices>()); }
void UnregisterPlinthInvoices(IPlinthDI& di) { di.RemoveFactory(IPlinthInvoices::IID); }

}  // namespace courio
