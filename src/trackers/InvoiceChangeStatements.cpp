#include "trackers/InvoiceChangeStatements.hpp"

namespace courio {

std::string AuditTransTypeExpression() {
  // NULLIF: without "TRANSTYPE=" the start is NULL, so is the character.
  const std::string character = "SUBSTRING( Data, NULLIF( PATINDEX( '%%TRANSTYPE=%%', Data ), 0 ) + 11, 1 )";
  return "CASE WHEN PATINDEX( '[0-9]', " + character + " COLLATE Latin1_General_BIN2 ) = 1 THEN CAST( " + character +
         " AS INT ) END";
}

std::string OverringInvoiceExpression() {
  // The length never goes below 0, whatever the line holds.
  const std::string position = "PATINDEX( '%%O/R%%', ACTIVITY )";
  const std::string number = "LTRIM( RTRIM( SUBSTRING( ACTIVITY, 9, CASE WHEN " + position + " > 10 THEN " + position +
                             " - 10 ELSE 0 END ) ) )";
  // Only digits, and few enough (or small enough) for an INT.
  return "CASE WHEN PATINDEX( '%%[^0-9]%%', " + number + " COLLATE Latin1_General_BIN2 ) = 0 AND ( LEN( " + number +
         " ) BETWEEN 1 AND 9 OR ( LEN( " + number + " ) = 10 AND " + number + " <= '2147483647' ) ) THEN CAST( " +
         number + " AS INT ) END";
}

namespace {

const char* const kAuditJoin =
    " FROM InvoicesAudit JOIN INVOICES ON INVOICES.INVOICENUM = InvoicesAudit.InvoiceNum WHERE INVOICES.TRANSTYPE = ";

TTransitionStatements Transition(const std::string& columns, int currentType, int auditType) {
  const std::string where = kAuditJoin + std::to_string(currentType) + " AND " + AuditTransTypeExpression() + " = " +
                            std::to_string(auditType) + " AND InvoicesAudit.TimeStamp >= %s";
  return {"SELECT COUNT(1) AS InvoiceCount" + where,
          "SELECT " + columns + where + " ORDER BY InvoicesAudit.TimeStamp"};
}

std::string Overring(const std::string& columns, const std::string& tail) {
  return "SELECT " + columns + " FROM ACTIVITY JOIN INVOICES ON INVOICES.INVOICENUM = " + OverringInvoiceExpression() +
         " WHERE ACTIVITYID > %d AND ACTCODE = 'EX040' AND ACTIVITY LIKE 'Invoice%%O/R%%' AND ACTIVITY NOT LIKE "
         "'%%cancel%%' AND INVOICES.TRANSTYPE = 3 AND INVOICES.STATUS > 0" +
         tail;
}

}  // namespace

const TTransitionStatements& CollectToDeliveryStatements() {
  static const TTransitionStatements statements = Transition(
      "INVOICES.InvoiceNum, INVOICES.AfterDisc, INVOICES.Date, INVOICES.CustLink, InvoicesAudit.TimeStamp", 3, 2);
  return statements;
}

const TTransitionStatements& DeliveryToCollectStatements() {
  static const TTransitionStatements statements = Transition("INVOICES.InvoiceNum, InvoicesAudit.Timestamp", 2, 3);
  return statements;
}

const std::string& OverringCountStatement() {
  static const std::string statement = Overring("COUNT(1) AS InvoiceCount", "");
  return statement;
}

const std::string& OverringDetailStatement() {
  static const std::string statement =
      Overring("INVOICES.INVOICENUM, ACTIVITY.DATE, ACTIVITY.ACTIVITYID", " ORDER BY ACTIVITYID");
  return statement;
}

}  // namespace courio
