#pragma once
// The embedded POS: an SQLite database with the POS tables and columns the
// service's statements name, and the shop activity that drives it (ringing up
// invoices, clocking drivers in, handing invoices to drivers ...).
//
// Column types are declared so that the SQLite3 ODBC driver reports the kinds
// the POS server would: text as VARCHAR with NOCASE collation, bits as BIT,
// money and quantities as FLOAT, times as DATETIME holding the text
// "yyyy-mm-dd hh:nn:ss". Times written here come from courio::Now().
//
// Every function opens the file, does its work in one transaction and closes
// it; failures raise std::runtime_error.

#include <string>
#include <vector>

namespace possim {

struct TLineItem {
  std::string code;
  std::string desc;
  double quantity;
  double price;
};

// Creates the database with every table and a small shop. Refuses to touch an
// existing file unless `force` (then it is replaced).
void InitDatabase(const std::string& path, bool force = false);

// A REGEDIT5 registry file whose "MSDE-ConnectionString" reaches `path`.
std::string RegFileText(const std::string& path);

struct TRingOptions {
  bool collection = false;  // TransType 2 instead of 3 (delivery)
  bool noItems = false;     // leave the line items for AddLineItems
};
// Rings up a new invoice (Date now, TimeDue now + 30 minutes); its number.
int RingInvoice(const std::string& path, const TRingOptions& options = {});
// The line items an invoice gets (fixed per invoice number).
std::vector<TLineItem> ItemsFor(int invoice);
// Writes the invoice's line items (after RingInvoice with noItems).
void AddLineItems(const std::string& path, int invoice);
// The invoice row as a JSON object text; throws when there is no such invoice.
std::string ShowInvoice(const std::string& path, int invoice);

// Changes an invoice's TransType, writing the audit row the POS writes.
void ChangeTransType(const std::string& path, int invoice, int transType);
struct TTransTypeChange {
  int invoice;
  int transType;
};
// A burst: several changes in one transaction, all audited with the same time.
void ChangeTransTypes(const std::string& path, const std::vector<TTransTypeChange>& changes);
// Hands an invoice to a driver now (Driver, TimeToDrvr, DriverLink).
void AssignDriver(const std::string& path, int invoice, const std::string& empNum);
// Overrings an invoice (ACTIVITY line 'EX040'); the new ActivityID.
int OverringInvoice(const std::string& path, int invoice);
// A burst: several overrings in one transaction, all lines with the same time;
// their ActivityIDs in order.
std::vector<int> OverringInvoices(const std::string& path, const std::vector<int>& invoices);

// Clocks an employee in now; the new ATTEND row's InvoiceLink.
int ClockIn(const std::string& path, const std::string& empNum);
// Sets OnDelivery on the employee's latest attendance row.
void SetOnDelivery(const std::string& path, const std::string& empNum, bool onDelivery);
// Clocks the employee out on the latest attendance row.
void ClockOut(const std::string& path, const std::string& empNum);

// Sets the business-day start (SYSDATA GLOBAL / DAY START) to `value` as it
// stands, e.g. "06:00" or "6:00 PM".
void SetDayStart(const std::string& path, const std::string& value);

struct TEmployee {
  std::string empNum;
  std::string firstName;
  std::string lastName;
  bool doesDeliveries = true;
  bool active = true;
};
// Adds an employee (rates NULL). A number already taken is added again, as
// a careless POS import would.
void AddEmployee(const std::string& path, const TEmployee& employee);
// The employee's latest attendance row as a JSON object text; throws when
// there is none.
std::string ShowAttendance(const std::string& path, const std::string& empNum);

// Runs SQL on the file (statements separated by ';'), for tests and the demo.
void ExecSql(const std::string& path, const std::string& sql);

}  // namespace possim
