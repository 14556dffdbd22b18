#pragma once
// The POS statements of the collect/delivery transition trackers and the
// overring tracker, as format texts for the database manager's *Fmt
// operations ("%%" is a single "%").
//
// Both kinds read a number out of free text: the TransType the POS kept in an
// audit row's Data, and the invoice number inside an ACTIVITY line. On the
// server a join or filter may evaluate that expression for any row, so the
// expressions are guarded: no text can make them fail (no negative SUBSTRING
// length, no CAST of anything but plain digits), and text that does not hold
// a number gives NULL, which matches nothing. For well-formed text they give
// the plain SUBSTRING/CAST's value. The guards are T-SQL that SQL Server 2008
// accepts (CASE, NULLIF, PATINDEX, LEN, LTRIM/RTRIM, a binary COLLATE so that
// "[0-9]" means the ten ASCII digits in every collation).

#include <string>

namespace courio {

// The one-character TransType after "TRANSTYPE=" and its quote in Data, as an
// integer; NULL when Data has no "TRANSTYPE=" or no digit there.
std::string AuditTransTypeExpression();

// The invoice number of an overring line "Invoice <number> O/R": the text
// from character 9 up to the blank before "O/R", blanks around it ignored, as
// an integer; NULL unless that text is 1 to 10 plain digits within the INT
// range.
std::string OverringInvoiceExpression();

// Count and detail statement of one transition tracker; "%s" is the
// watermark literal. Audit rows from the watermark's own second on are read
// (the tracker skips those it already handled).
struct TTransitionStatements {
  std::string count;   // column "InvoiceCount"
  std::string detail;  // ordered by the audit TimeStamp
};
// Collections turned into deliveries: InvoiceNum, AfterDisc, Date, CustLink
// and the audit row's TimeStamp.
const TTransitionStatements& CollectToDeliveryStatements();
// Deliveries turned into collections: InvoiceNum and the audit row's Timestamp.
const TTransitionStatements& DeliveryToCollectStatements();

// Overring lines after an ActivityID ("%d") for delivery invoices with a
// Status above 0: the count (column "InvoiceCount") and the detail
// (INVOICENUM, DATE, ACTIVITYID ordered by ACTIVITYID).
const std::string& OverringCountStatement();
const std::string& OverringDetailStatement();

}  // namespace courio
