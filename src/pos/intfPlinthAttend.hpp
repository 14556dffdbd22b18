#pragma once
// Driver attendance in the POS: the current attendance of every active
// delivery driver, one employee's latest attendance row and master record,
// and clocking an employee in. Attendance is always read within the current
// business day, the open window of 24 hours that begins at the SYSDATA day
// start (GLOBAL / DAY START).
//
// Documents are JSON arrays of row objects as the database manager gives
// them (keys looked up without regard to case). A fetch that finds nothing
// or fails gives an empty array, never null.
//
// Ownership and threads: made anew by each caller (in every task run),
// initialised with the caller's own database manager and used by that
// caller's thread only. Holds no lock.

#include <memory>
#include <string>
#include <string_view>

#include "common/di/intfInterface.hpp"
#include "common/posdb/intfDBManager.hpp"
#include "common/util/Json.hpp"

namespace courio {

class IPlinthAttend : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{72C743FD-FD43-43E3-A6FA-534E2EAE337D}");

  // Keeps `db` and reads the business-day start. Throws when SYSDATA has no
  // day start or it is not a time of day (the day start then stays as it
  // was), and on database errors.
  virtual void Initialise(IDBManagerPtr db) = 0;
  // The employee's latest attendance row within the business day (every
  // ATTEND column), or an empty array. Never throws; errors are logged.
  virtual void FetchEmployeeAttendJSON(const std::string& empNum, TJson& attend) = 0;
  // The employee record; true when exactly one employee has that number
  // (`employee` is then a one-element array, else empty). Database errors
  // are thrown.
  virtual bool FetchEmployeeJSON(const std::string& empNum, TJson& employee) = 0;
  // Inserts an attendance row with the employee's rates (0 where NULL).
  // Writes nothing for an unknown or ambiguous number. Errors are thrown.
  virtual void ClockInEmployee(const std::string& empNum, TDateTime inDateTime, double odoStart,
                               double floatAmount) = 0;
  // True for an empty document (no attendance row today) or a row whose
  // ClockedOut is true.
  virtual bool IsClockedOut(const TJson& attend) = 0;
  // One object per active delivery driver: "EmpNum", "InDateTime",
  // "OutDateTime", "ClockedOut", "OnDelivery" of the driver's latest row in
  // the business day (null without one). Never throws; errors are logged.
  virtual void FetchCurretAttendJSON(TJson& attend) = 0;
};
using IPlinthAttendPtr = std::shared_ptr<IPlinthAttend>;

// A bit of an attendance row ("ClockedOut", "OnDelivery"): null (no row, or
// the flag never set) reads false; true/false, numbers and "true"/"false"
// as they are; anything else throws std::invalid_argument.
inline bool AttendFlag(const TJson& row, std::string_view key) {
  const TJson& value = JsonGet(row, key);
  return !value.is_null() && JsonAsBool(value);
}

}  // namespace courio
