#include "PosShop.hpp"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "common/util/DateTime.hpp"
#include "common/util/Json.hpp"

namespace possim {
namespace {

const char* const kSchema = R"SQL(
CREATE TABLE INVOICES (
  InvoiceNum INTEGER PRIMARY KEY,
  TransType INTEGER NOT NULL DEFAULT 3,
  Status INTEGER NOT NULL DEFAULT 1,
  Date DATETIME,
  TimeDue DATETIME,
  CustLink INTEGER,
  OrderNum INTEGER,
  InvoiceSource VARCHAR(20) COLLATE NOCASE,
  IsPaidOnline BIT NOT NULL DEFAULT 0,
  AfterDisc FLOAT NOT NULL DEFAULT 0,
  Driver VARCHAR(10) COLLATE NOCASE,
  TimeToDrvr DATETIME,
  DriverLink INTEGER,
  TimeStampDriver DATETIME,
  TIMEATCUST DATETIME
);
CREATE TABLE LINEITEM (
  LineID INTEGER PRIMARY KEY,
  InvoiceNum INTEGER NOT NULL,
  Code VARCHAR(10) COLLATE NOCASE,
  ItemDesc VARCHAR(60) COLLATE NOCASE,
  Quantity FLOAT NOT NULL DEFAULT 1,
  Price FLOAT NOT NULL DEFAULT 0
);
CREATE INDEX LINEITEM_INVOICE ON LINEITEM (InvoiceNum);
CREATE TABLE OnlineOrderDetails (
  ID INTEGER PRIMARY KEY,
  InvoiceNum INTEGER NOT NULL,
  ExternalID VARCHAR(60) COLLATE NOCASE
);
CREATE TABLE CUSTOMER (
  InvLink INTEGER PRIMARY KEY,
  FirstName VARCHAR(40) COLLATE NOCASE,
  LastName VARCHAR(40) COLLATE NOCASE,
  Telephone VARCHAR(20) COLLATE NOCASE,
  Cell VARCHAR(20) COLLATE NOCASE,
  Flat VARCHAR(10) COLLATE NOCASE,
  StreetNo VARCHAR(10) COLLATE NOCASE,
  StreetLink INTEGER,
  Coordinates VARCHAR(40) COLLATE NOCASE
);
CREATE TABLE STREET (
  ID INTEGER PRIMARY KEY,
  StreetRef INTEGER,
  SuburbRef INTEGER,
  GridRefLink INTEGER
);
CREATE TABLE STREETNAMES (ID INTEGER PRIMARY KEY, Street VARCHAR(60) COLLATE NOCASE);
CREATE TABLE SUBURB (ID INTEGER PRIMARY KEY, Suburb VARCHAR(60) COLLATE NOCASE);
CREATE TABLE GRIDREF (ID INTEGER PRIMARY KEY, GridRef VARCHAR(10) COLLATE NOCASE);
CREATE TABLE InvoicesAudit (
  AuditID INTEGER PRIMARY KEY,
  InvoiceNum INTEGER NOT NULL,
  TimeStamp DATETIME NOT NULL,
  Data VARCHAR(2000) COLLATE NOCASE
);
CREATE TABLE ACTIVITY (
  ActivityID INTEGER PRIMARY KEY,
  DATE DATETIME NOT NULL,
  ACTCODE VARCHAR(10) COLLATE NOCASE,
  ACTIVITY VARCHAR(200) COLLATE NOCASE,
  EmpNum VARCHAR(10) COLLATE NOCASE
);
CREATE TABLE EMPLOYEE (
  EMPNUM VARCHAR(10) COLLATE NOCASE NOT NULL,
  FirstName VARCHAR(40) COLLATE NOCASE,
  LastName VARCHAR(40) COLLATE NOCASE,
  Telephone VARCHAR(20) COLLATE NOCASE,
  Password VARCHAR(40),
  HOURLYRATE FLOAT,
  KMRATE FLOAT,
  DoesDeliveries BIT NOT NULL DEFAULT 0,
  ACTIVE BIT NOT NULL DEFAULT 1
);
CREATE TABLE ATTEND (
  InvoiceLink INTEGER PRIMARY KEY AUTOINCREMENT,
  EmpNum VARCHAR(10) COLLATE NOCASE NOT NULL,
  InDateTime DATETIME,
  OutDateTime DATETIME,
  ClockedOut BIT NOT NULL DEFAULT 0,
  OnDelivery BIT NOT NULL DEFAULT 0,
  HourlyRate FLOAT,
  KmRate FLOAT,
  OdoStart FLOAT,
  OdoEnd FLOAT,
  Float FLOAT
);
CREATE TABLE SYSDATA (
  CLASS VARCHAR(20) COLLATE NOCASE,
  ITEM VARCHAR(40) COLLATE NOCASE,
  VALUE VARCHAR(200) COLLATE NOCASE
);
)SQL";

const char* const kShop = R"SQL(
INSERT INTO SUBURB VALUES (1, 'Northcote'), (2, 'Fitzroy'), (3, 'Brunswick');
INSERT INTO GRIDREF VALUES (1, 'A1'), (2, 'B2'), (3, 'C3');
INSERT INTO STREETNAMES VALUES (1, 'High St'), (2, 'Smith St'), (3, '#Sydney Rd');
INSERT INTO STREET VALUES (1, 1, 1, 1), (2, 2, 2, 2), (3, 3, 3, 3), (4, 1, 3, NULL);
INSERT INTO CUSTOMER VALUES
  (1, 'Alice', 'Nguyen', '0394001111', '0412000111', '', '12', 1, '-37.7701,144.9990'),
  (2, 'Bob', 'O''Brien', '0394002222', '0412000222', '3', '', 2, NULL),
  (3, 'Chloé', 'Martin', NULL, '0412000333', '', '7', 3, NULL),
  (4, 'Walk', 'In', NULL, NULL, NULL, NULL, NULL, NULL),
  (5, 'Dana', NULL, '0394005555', NULL, '1A', NULL, 4, NULL),
  (6, 'Eve', 'Kaur', NULL, '0412000666', NULL, NULL, NULL, '-37.8000,144.9700');
INSERT INTO EMPLOYEE VALUES
  ('0001', 'Morgan', 'Boss', '0394000001', 'manager1', 40, NULL, 0, 1),
  ('0042', 'Sam', 'Driver', '0412004242', 'drive42', 25.5, 0.85, 1, 1),
  ('0043', 'Jo', 'Wheels', '0412004343', 'Secret43', NULL, NULL, 1, 1),
  ('0044', 'Max', NULL, NULL, 'max44', 24, 0.8, 1, 1),
  ('0050', 'Old', 'Timer', '0412005050', 'gone50', 20, 0.7, 1, 0);
INSERT INTO SYSDATA VALUES ('GLOBAL', 'DAY START', '06:00'), ('GLOBAL', 'SHOP NAME', 'Quorvane Pizza');
)SQL";

class Db {
 public:
  explicit Db(const std::string& path, bool create = false) {
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw std::runtime_error("Cannot open POS database " + path + ": " + msg);
    }
    sqlite3_busy_timeout(db_, 5000);
  }
  ~Db() { sqlite3_close(db_); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "unknown error";
      sqlite3_free(err);
      throw std::runtime_error(msg);
    }
  }

  // Runs a statement with text/integer/real/NULL parameters; calls `row` per row.
  template <class Row>
  void Query(const std::string& sql, const courio::TJson& params, Row&& row) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " in: " + sql);
    int i = 1;
    for (const auto& p : params) {
      if (p.is_null())
        sqlite3_bind_null(st, i);
      else if (p.is_number_integer())
        sqlite3_bind_int64(st, i, p.get<long long>());
      else if (p.is_number())
        sqlite3_bind_double(st, i, p.get<double>());
      else
        sqlite3_bind_text(st, i, p.get<std::string>().c_str(), -1, SQLITE_TRANSIENT);
      ++i;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) row(st);
    if (rc != SQLITE_DONE) {
      std::string msg = sqlite3_errmsg(db_);
      sqlite3_finalize(st);
      throw std::runtime_error(msg + " in: " + sql);
    }
    sqlite3_finalize(st);
  }
  void Run(const std::string& sql, const courio::TJson& params) {
    Query(sql, params, [](sqlite3_stmt*) {});
  }
  long long Integer(const std::string& sql, const courio::TJson& params, long long fallback) {
    long long v = fallback;
    Query(sql, params, [&](sqlite3_stmt* st) {
      if (sqlite3_column_type(st, 0) != SQLITE_NULL) v = sqlite3_column_int64(st, 0);
    });
    return v;
  }
  long long LastId() { return sqlite3_last_insert_rowid(db_); }
  int Changes() { return sqlite3_changes(db_); }

 private:
  sqlite3* db_ = nullptr;
};

std::string Stamp(courio::TDateTime t) { return courio::FormatDateTime("yyyy-mm-dd hh:nn:ss", t); }

// One transaction around `body`.
template <class F>
void InTransaction(Db& db, F&& body) {
  db.Exec("BEGIN IMMEDIATE");
  try {
    body();
    db.Exec("COMMIT");
  } catch (...) {
    try {
      db.Exec("ROLLBACK");
    } catch (...) {
    }
    throw;
  }
}

void InsertItems(Db& db, int invoice) {
  for (const TLineItem& item : ItemsFor(invoice))
    db.Run("INSERT INTO LINEITEM (InvoiceNum, Code, ItemDesc, Quantity, Price) VALUES (?, ?, ?, ?, ?)",
           {invoice, item.code, item.desc, item.quantity, item.price});
}

double Total(int invoice, bool delivery) {
  double total = delivery ? 5.0 : 0.0;
  for (const TLineItem& item : ItemsFor(invoice)) total += item.quantity * item.price;
  return total;
}

void InsertInvoice(Db& db, int number, int transType, courio::TDateTime date, int custLink, int orderNum,
                   bool withItems) {
  db.Run("INSERT INTO INVOICES (InvoiceNum, TransType, Status, Date, TimeDue, CustLink, OrderNum, InvoiceSource, "
         "IsPaidOnline, AfterDisc) VALUES (?, ?, 1, ?, ?, ?, ?, 'POS', 0, ?)",
         {number, transType, Stamp(date), Stamp(courio::IncSecond(date, 30 * 60)), custLink, orderNum,
          Total(number, transType == 3)});
  if (withItems) InsertItems(db, number);
}

// The current row of a statement as a JSON object keyed by column name.
courio::TJson RowJson(sqlite3_stmt* st) {
  courio::TJson row = courio::TJson::object();
  for (int i = 0; i < sqlite3_column_count(st); ++i) {
    const char* name = sqlite3_column_name(st, i);
    switch (sqlite3_column_type(st, i)) {
      case SQLITE_NULL: row[name] = nullptr; break;
      case SQLITE_INTEGER: row[name] = sqlite3_column_int64(st, i); break;
      case SQLITE_FLOAT: row[name] = sqlite3_column_double(st, i); break;
      default: row[name] = std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
    }
  }
  return row;
}

long long LatestAttend(Db& db, const std::string& empNum) {
  return db.Integer("SELECT InvoiceLink FROM ATTEND WHERE EmpNum = ? ORDER BY InDateTime DESC, InvoiceLink DESC LIMIT 1",
                    {empNum}, -1);
}

}  // namespace

std::vector<TLineItem> ItemsFor(int invoice) {
  static const TLineItem kMenu[] = {
      {"PZ01", "Margherita Pizza", 1, 14.5}, {"PZ02", "Pepperoni Pizza", 1, 16.0}, {"BG01", "Burger", 1, 12.0},
      {"DR01", "Cola", 1, 3.5},              {"SD01", "Garlic Bread", 1, 6.0},
  };
  unsigned n = static_cast<unsigned>(invoice);
  std::vector<TLineItem> items;
  size_t count = 1 + n % 3;
  for (size_t k = 0; k < count; ++k) {
    TLineItem item = kMenu[(n + k * 2) % 5];
    item.quantity = static_cast<double>(1 + (n + k) % 2);
    items.push_back(item);
  }
  return items;
}

void InitDatabase(const std::string& path, bool force) {
  namespace fs = std::filesystem;
  if (fs::exists(path)) {
    if (!force) throw std::runtime_error(path + " already exists (use --force to replace it)");
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix);
  }
  Db db(path, true);
  db.Exec("PRAGMA journal_mode = WAL");
  InTransaction(db, [&] {
    db.Exec(kSchema);
    db.Exec(kShop);
    // A few invoices, attendance rows and log lines from yesterday.
    courio::TDateTime yesterday = courio::DateOf(courio::Now()) - 1;
    for (int k = 0; k < 5; ++k) {
      int number = 1001 + k;
      courio::TDateTime at = yesterday + (18.0 + k * 0.5) / 24.0;
      InsertInvoice(db, number, k % 3 == 1 ? 2 : 3, at, 1 + k % 6, k + 1, true);
    }
    db.Run("INSERT INTO OnlineOrderDetails (InvoiceNum, ExternalID) VALUES (1004, 'PEL-7781')", courio::TJson::array());
    db.Run("INSERT INTO ATTEND (EmpNum, InDateTime, OutDateTime, ClockedOut, OnDelivery, HourlyRate, KmRate, "
           "OdoStart, OdoEnd, Float) VALUES ('0042', ?, ?, 1, 0, 25.5, 0.85, 1200, 1262, 20)",
           {Stamp(yesterday + 17.0 / 24), Stamp(yesterday + 23.0 / 24)});
    db.Run("UPDATE INVOICES SET Driver = '0042', TimeToDrvr = ?, DriverLink = 1 WHERE InvoiceNum = 1001",
           {Stamp(yesterday + 18.25 / 24)});
    db.Run("INSERT INTO ACTIVITY (DATE, ACTCODE, ACTIVITY, EmpNum) VALUES (?, 'LOGIN', 'Login Morgan', '0001'), "
           "(?, 'EX040', 'Invoice 1003 O/R', '0001')",
           {Stamp(yesterday + 16.0 / 24), Stamp(yesterday + 19.2 / 24)});
    db.Run("INSERT INTO InvoicesAudit (InvoiceNum, TimeStamp, Data) VALUES (1002, ?, "
           "'InvoiceNum=''1002'' TransType=''3'' Status=''1''')",
           {Stamp(yesterday + 18.6 / 24)});
    db.Run("UPDATE INVOICES SET TransType = 2 WHERE InvoiceNum = 1002", courio::TJson::array());
  });
}

std::string RegFileText(const std::string& path) {
  std::string abs = std::filesystem::absolute(path).lexically_normal().string();
  std::string cs = "Driver=SQLite3;Database=" + abs + ";NoCreat=1;Timeout=5000";
  auto escape = [](const std::string& s) {
    std::string out;
    for (char c : s) {
      if (c == '\\' || c == '"') out += '\\';
      out += c;
    }
    return out;
  };
  return "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane]\r\n"
         "\"Company\"=\"Quorvane Pizza\"\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane\\Plinth]\r\n"
         "\"MSDE-ConnectionString\"=\"" +
         escape(cs) +
         "\"\r\n"
         "\"MSDE-Failed\"=dword:00000000\r\n"
         "\"Path\"=\"C:\\\\Plinth\\\\\"\r\n\r\n";
}

int RingInvoice(const std::string& path, const TRingOptions& options) {
  Db db(path);
  int number = 0;
  InTransaction(db, [&] {
    number = static_cast<int>(db.Integer("SELECT MAX(InvoiceNum) FROM INVOICES", courio::TJson::array(), 1000)) + 1;
    courio::TDateTime now = courio::Now();
    int orderNum = static_cast<int>(db.Integer("SELECT COUNT(1) FROM INVOICES WHERE Date >= ?",
                                               {Stamp(courio::DateOf(now))}, 0)) + 1;
    long long customers = db.Integer("SELECT COUNT(1) FROM CUSTOMER", courio::TJson::array(), 1);
    int custLink = static_cast<int>(db.Integer("SELECT InvLink FROM CUSTOMER ORDER BY InvLink LIMIT 1 OFFSET ?",
                                               {number % (customers > 0 ? customers : 1)}, 1));
    InsertInvoice(db, number, options.collection ? 2 : 3, now, custLink, orderNum, !options.noItems);
  });
  return number;
}

void AddLineItems(const std::string& path, int invoice) {
  Db db(path);
  InTransaction(db, [&] {
    if (db.Integer("SELECT COUNT(1) FROM INVOICES WHERE InvoiceNum = ?", {invoice}, 0) == 0)
      throw std::runtime_error("No invoice " + std::to_string(invoice));
    if (db.Integer("SELECT COUNT(1) FROM LINEITEM WHERE InvoiceNum = ?", {invoice}, 0) > 0)
      throw std::runtime_error("Invoice " + std::to_string(invoice) + " already has line items");
    InsertItems(db, invoice);
  });
}

std::string ShowInvoice(const std::string& path, int invoice) {
  Db db(path);
  courio::TJson row;
  db.Query("SELECT * FROM INVOICES WHERE InvoiceNum = ?", {invoice}, [&](sqlite3_stmt* st) {
    row = courio::TJson::object();
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const char* name = sqlite3_column_name(st, i);
      switch (sqlite3_column_type(st, i)) {
        case SQLITE_NULL: row[name] = nullptr; break;
        case SQLITE_INTEGER: row[name] = sqlite3_column_int64(st, i); break;
        case SQLITE_FLOAT: row[name] = sqlite3_column_double(st, i); break;
        default: row[name] = std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
      }
    }
  });
  if (row.is_null()) throw std::runtime_error("No invoice " + std::to_string(invoice));
  return courio::JsonDump(row);
}

void ChangeTransType(const std::string& path, int invoice, int transType) {
  ChangeTransTypes(path, {{invoice, transType}});
}

void ChangeTransTypes(const std::string& path, const std::vector<TTransTypeChange>& changes) {
  Db db(path);
  InTransaction(db, [&] {
    const std::string stamp = Stamp(courio::Now());
    for (const TTransTypeChange& change : changes) {
      const int invoice = change.invoice;
      long long oldType = db.Integer("SELECT TransType FROM INVOICES WHERE InvoiceNum = ?", {invoice}, -1);
      if (oldType < 0) throw std::runtime_error("No invoice " + std::to_string(invoice));
      long long status = db.Integer("SELECT Status FROM INVOICES WHERE InvoiceNum = ?", {invoice}, 0);
      // The audit row keeps the values before the change.
      std::string data = "InvoiceNum='" + std::to_string(invoice) + "' TransType='" + std::to_string(oldType) +
                         "' Status='" + std::to_string(status) + "'";
      db.Run("INSERT INTO InvoicesAudit (InvoiceNum, TimeStamp, Data) VALUES (?, ?, ?)", {invoice, stamp, data});
      db.Run("UPDATE INVOICES SET TransType = ? WHERE InvoiceNum = ?", {change.transType, invoice});
    }
  });
}

void AssignDriver(const std::string& path, int invoice, const std::string& empNum) {
  Db db(path);
  InTransaction(db, [&] {
    long long link = LatestAttend(db, empNum);
    db.Run("UPDATE INVOICES SET Driver = ?, TimeToDrvr = ?, DriverLink = ? WHERE InvoiceNum = ?",
           {empNum, Stamp(courio::Now()), link < 0 ? courio::TJson() : courio::TJson(link), invoice});
    if (db.Changes() == 0) throw std::runtime_error("No invoice " + std::to_string(invoice));
  });
}

int OverringInvoice(const std::string& path, int invoice) { return OverringInvoices(path, {invoice}).front(); }

std::vector<int> OverringInvoices(const std::string& path, const std::vector<int>& invoices) {
  Db db(path);
  std::vector<int> ids;
  InTransaction(db, [&] {
    const std::string stamp = Stamp(courio::Now());
    for (int invoice : invoices) {
      db.Run("INSERT INTO ACTIVITY (DATE, ACTCODE, ACTIVITY, EmpNum) VALUES (?, 'EX040', ?, '0001')",
             {stamp, "Invoice " + std::to_string(invoice) + " O/R"});
      ids.push_back(static_cast<int>(db.LastId()));
    }
  });
  return ids;
}

int ClockIn(const std::string& path, const std::string& empNum) {
  Db db(path);
  long long id = 0;
  InTransaction(db, [&] {
    if (db.Integer("SELECT COUNT(1) FROM EMPLOYEE WHERE EMPNUM = ?", {empNum}, 0) == 0)
      throw std::runtime_error("No employee " + empNum);
    db.Run("INSERT INTO ATTEND (EmpNum, InDateTime, ClockedOut, OnDelivery, HourlyRate, KmRate, OdoStart, Float) "
           "SELECT EMPNUM, ?, 0, 0, HOURLYRATE, KMRATE, 0, 0 FROM EMPLOYEE WHERE EMPNUM = ? LIMIT 1",
           {Stamp(courio::Now()), empNum});
    id = db.LastId();
  });
  return static_cast<int>(id);
}

void SetOnDelivery(const std::string& path, const std::string& empNum, bool onDelivery) {
  Db db(path);
  InTransaction(db, [&] {
    long long link = LatestAttend(db, empNum);
    if (link < 0) throw std::runtime_error("No attendance row for " + empNum);
    db.Run("UPDATE ATTEND SET OnDelivery = ? WHERE InvoiceLink = ?", {onDelivery ? 1 : 0, link});
  });
}

void ClockOut(const std::string& path, const std::string& empNum) {
  Db db(path);
  InTransaction(db, [&] {
    long long link = LatestAttend(db, empNum);
    if (link < 0) throw std::runtime_error("No attendance row for " + empNum);
    db.Run("UPDATE ATTEND SET ClockedOut = 1, OnDelivery = 0, OutDateTime = ? WHERE InvoiceLink = ?",
           {Stamp(courio::Now()), link});
  });
}

void SetDayStart(const std::string& path, const std::string& value) {
  Db db(path);
  InTransaction(db, [&] {
    db.Run("DELETE FROM SYSDATA WHERE CLASS = 'GLOBAL' AND ITEM = 'DAY START'", courio::TJson::array());
    db.Run("INSERT INTO SYSDATA (CLASS, ITEM, VALUE) VALUES ('GLOBAL', 'DAY START', ?)", {value});
  });
}

void AddEmployee(const std::string& path, const TEmployee& e) {
  Db db(path);
  InTransaction(db, [&] {
    db.Run("INSERT INTO EMPLOYEE (EMPNUM, FirstName, LastName, DoesDeliveries, ACTIVE) VALUES (?, ?, ?, ?, ?)",
           {e.empNum, e.firstName, e.lastName, e.doesDeliveries ? 1 : 0, e.active ? 1 : 0});
  });
}

std::string ShowAttendance(const std::string& path, const std::string& empNum) {
  Db db(path);
  courio::TJson row;
  db.Query("SELECT * FROM ATTEND WHERE InvoiceLink = ?", {LatestAttend(db, empNum)},
           [&](sqlite3_stmt* st) { row = RowJson(st); });
  if (row.is_null()) throw std::runtime_error("No attendance row for " + empNum);
  return courio::JsonDump(row);
}

void ExecSql(const std::string& path, const std::string& sql) {
  Db db(path);
  db.Exec(sql);
}

}  // namespace possim
