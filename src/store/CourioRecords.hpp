#pragma once
// The record types of the local store's four tables. Each record knows its
// table, its declared columns (in create order, after ID) and how to bind and
// load its values. Times are local time; 0 means "unset" and is stored as "".

#include <sqlite3.h>

#include <string>
#include <vector>

#include "common/util/DateTime.hpp"
#include "common/util/Json.hpp"

namespace courio {

struct TColumn {
  const char* name;
  const char* type;  // declared type as created
};

class TSQLRecord {
 public:
  virtual ~TSQLRecord() = default;
  long long ID = 0;

  virtual const char* TableName() const = 0;
  virtual const std::vector<TColumn>& Columns() const = 0;
  // Binds the values of Columns() to parameters first..first+n-1.
  virtual void Bind(sqlite3_stmt* stmt, int first) const = 0;
  // Loads the values of Columns() from result columns first..first+n-1.
  virtual void Load(sqlite3_stmt* stmt, int first) = 0;
  // "CREATE TABLE <name>(ID INTEGER PRIMARY KEY AUTOINCREMENT, <col> <type>, ...);"
  std::string CreateStatement() const;
};

class TSQLSettings final : public TSQLRecord {
 public:
  std::string Name;
  TJson Value = TJson::object();

  const char* TableName() const override { return "Settings"; }
  const std::vector<TColumn>& Columns() const override;
  void Bind(sqlite3_stmt* stmt, int first) const override;
  void Load(sqlite3_stmt* stmt, int first) override;
};

class TSQLInvoiceEvent final : public TSQLRecord {
 public:
  long long InvoiceNum = 0;
  TDateTime Timestamp = 0;
  int EventType = 0;
  std::string EventData;
  int UploadStatus = 0;
  TDateTime UploadTimestamp = 0;

  const char* TableName() const override { return "InvoiceEvent"; }
  const std::vector<TColumn>& Columns() const override;
  void Bind(sqlite3_stmt* stmt, int first) const override;
  void Load(sqlite3_stmt* stmt, int first) override;
};

class TSQLRemoteEvent final : public TSQLRecord {
 public:
  long long InvoiceNum = 0;
  TDateTime Timestamp = 0;
  int EventType = 0;
  std::string EventData;
  int AppliedStatus = 0;
  TDateTime AppliedTimestamp = 0;

  const char* TableName() const override { return "RemoteEvent"; }
  const std::vector<TColumn>& Columns() const override;
  void Bind(sqlite3_stmt* stmt, int first) const override;
  void Load(sqlite3_stmt* stmt, int first) override;
};

class TSQLDriverEvent final : public TSQLRecord {
 public:
  std::string EmpNum;
  TDateTime Timestamp = 0;
  int EventType = 0;
  std::string EventData;
  int UploadStatus = 0;
  TDateTime UploadTimestamp = 0;

  const char* TableName() const override { return "DriverEvent"; }
  const std::vector<TColumn>& Columns() const override;
  void Bind(sqlite3_stmt* stmt, int first) const override;
  void Load(sqlite3_stmt* stmt, int first) override;
};

}  // namespace courio
