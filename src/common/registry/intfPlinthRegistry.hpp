#pragma once
// Folder common/registry: the POS registry settings, read from a REGEDIT export file.
// May use: common/di, common/log, common/util. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// Read-only access to the POS installation's registry values (its connection
// string and a few other facts). Every call reads afresh; no shared state, so
// readers can be used from any thread.

#include <memory>
#include <stdexcept>
#include <string>

#include "common/di/intfInterface.hpp"

namespace courio {

// A registry value that exists but cannot be read as asked:
// "Invalid data type for '<name>'" or "Failed to get data for '<name>'".
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class IPlinthRegistry : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{A535F5C4-B5D8-4FF3-BE3F-0A9411A6CFEF}");

  // "MSDE-ConnectionString" (the POS's OLE DB connection string).
  virtual std::string GetConnectionString() = 0;
  // "MSDE-Failed" (a DWORD, non-zero = true). Missing key: false; missing value raises.
  virtual bool GetConnectionFailed() = 0;
  virtual std::string GetPath() = 0;
  virtual std::string GetLastDepartmentCode() = 0;
  virtual std::string GetLastManufactureLocation() = 0;
  // "Company" under the maker's key.
  virtual std::string GetCompany() = 0;
};
using IPlinthRegistryPtr = std::shared_ptr<IPlinthRegistry>;

}  // namespace courio
