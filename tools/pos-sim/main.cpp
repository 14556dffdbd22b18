// pos-sim: the embedded POS stand-in.
//
//   pos-sim init DB [--force]             create the database with a small shop
//   pos-sim regfile DB                    print a registry file reaching DB
//   pos-sim ring DB [--collection] [--no-items]
//                                         ring up an invoice; prints its number
//   pos-sim items DB INVOICE              add the line items of an invoice
//   pos-sim show DB INVOICE               print the invoice row as JSON
//   pos-sim transtype DB INVOICE 2|3 [INVOICE 2|3 ...]
//                                         change collection/delivery (audited); several
//                                         pairs change together, audited in one second
//   pos-sim assign DB INVOICE EMPNUM      hand an invoice to a driver now
//   pos-sim overring DB INVOICE [INVOICE ...]
//                                         overring invoices (one second); prints each ActivityID
//   pos-sim clockin DB EMPNUM             clock an employee in now; prints InvoiceLink
//   pos-sim ondelivery DB EMPNUM 0|1      set OnDelivery on the latest attendance row
//   pos-sim clockout DB EMPNUM            clock an employee out now
//   pos-sim daystart DB VALUE             set the business-day start (SYSDATA), e.g. 06:00
//   pos-sim employee DB EMPNUM FIRST LAST [--not-driver] [--inactive]
//                                         add an employee (a delivery driver unless --not-driver)
//   pos-sim attend DB EMPNUM              print the employee's latest attendance row as JSON
//   pos-sim sql DB "SQL"                  run SQL on the database

#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "PosShop.hpp"

namespace {

int Usage() {
  std::fputs(
      "usage: pos-sim init DB [--force] | regfile DB | ring DB [--collection] [--no-items] | items DB INVOICE |\n"
      "       show DB INVOICE | transtype DB INVOICE 2|3 [INVOICE 2|3 ...] | assign DB INVOICE EMPNUM |\n"
      "       overring DB INVOICE [INVOICE ...] |\n"
      "       clockin DB EMPNUM | ondelivery DB EMPNUM 0|1 | clockout DB EMPNUM | daystart DB VALUE |\n"
      "       employee DB EMPNUM FIRST LAST [--not-driver] [--inactive] | attend DB EMPNUM | sql DB \"SQL\"\n",
      stderr);
  return 2;
}

int ToInt(const std::string& text) {
  size_t used = 0;
  int v = std::stoi(text, &used);
  if (used != text.size()) throw std::invalid_argument("not a number: " + text);
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return Usage();
  const std::string& cmd = args[0];
  const std::string& db = args[1];
  auto has = [&](const char* flag) {
    for (size_t i = 2; i < args.size(); ++i)
      if (args[i] == flag) return true;
    return false;
  };
  try {
    if (cmd == "init") {
      possim::InitDatabase(db, has("--force"));
    } else if (cmd == "regfile") {
      std::cout << possim::RegFileText(db);
    } else if (cmd == "ring") {
      possim::TRingOptions options;
      options.collection = has("--collection");
      options.noItems = has("--no-items");
      std::cout << possim::RingInvoice(db, options) << "\n";
    } else if (cmd == "items" && args.size() == 3) {
      possim::AddLineItems(db, ToInt(args[2]));
    } else if (cmd == "show" && args.size() == 3) {
      std::cout << possim::ShowInvoice(db, ToInt(args[2])) << "\n";
    } else if (cmd == "transtype" && args.size() >= 4 && args.size() % 2 == 0) {
      std::vector<possim::TTransTypeChange> changes;
      for (size_t i = 2; i < args.size(); i += 2) changes.push_back({ToInt(args[i]), ToInt(args[i + 1])});
      possim::ChangeTransTypes(db, changes);
    } else if (cmd == "assign" && args.size() == 4) {
      possim::AssignDriver(db, ToInt(args[2]), args[3]);
    } else if (cmd == "overring" && args.size() >= 3) {
      std::vector<int> invoices;
      for (size_t i = 2; i < args.size(); ++i) invoices.push_back(ToInt(args[i]));
      for (int id : possim::OverringInvoices(db, invoices)) std::cout << id << "\n";
    } else if (cmd == "clockin" && args.size() == 3) {
      std::cout << possim::ClockIn(db, args[2]) << "\n";
    } else if (cmd == "ondelivery" && args.size() == 4) {
      possim::SetOnDelivery(db, args[2], ToInt(args[3]) != 0);
    } else if (cmd == "clockout" && args.size() == 3) {
      possim::ClockOut(db, args[2]);
    } else if (cmd == "daystart" && args.size() == 3) {
      possim::SetDayStart(db, args[2]);
    } else if (cmd == "employee" && args.size() >= 5) {
      possim::TEmployee e{args[2], args[3], args[4]};
      for (size_t i = 5; i < args.size(); ++i) {
        if (args[i] == "--not-driver")
          e.doesDeliveries = false;
        else if (args[i] == "--inactive")
          e.active = false;
        else
          return Usage();
      }
      possim::AddEmployee(db, e);
    } else if (cmd == "attend" && args.size() == 3) {
      std::cout << possim::ShowAttendance(db, args[2]) << "\n";
    } else if (cmd == "sql" && args.size() == 3) {
      possim::ExecSql(db, args[2]);
    } else {
      return Usage();
    }
  } catch (const std::exception& e) {
    std::cerr << "pos-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
