#pragma once
// TPlinthAttend: attendance and employee access through the caller's POS
// connection. Date-time literals come from the database manager; every
// other value is quoted as an SQL literal. See intfPlinthAttend.hpp for the
// operations, their documents and how they fail.

#include <string>
#include <string_view>

#include "common/di/intfDI.hpp"
#include "pos/intfPlinthAttend.hpp"

namespace courio {

class TPlinthAttend final : public IPlinthAttend {
 public:
  void Initialise(IDBManagerPtr db) override;
  void FetchEmployeeAttendJSON(const std::string& empNum, TJson& attend) override;
  bool FetchEmployeeJSON(const std::string& empNum, TJson& employee) override;
  void ClockInEmployee(const std::string& empNum, TDateTime inDateTime, double odoStart, double floatAmount) override;
  bool IsClockedOut(const TJson& attend) override;
  void FetchCurretAttendJSON(TJson& attend) override;

  // The business-day start read by the last successful Initialise (only its
  // time of day counts).
  TDateTime DayStart() const { return dayStart_; }

 private:
  std::string FetchSysDataValue(const std::string& cls, const std::string& item);
  // The business-day window for one statement: both bounds from one reading
  // of the clock, as quoted literals.
  void Window(std::string& start, std::string& end);
  // Runs a query and keeps its rows when they form a non-empty array.
  void QueryRows(const std::string& format, std::initializer_list<TFmtArg> args, TJson& rows);

  IDBManagerPtr db_;
  TDateTime dayStart_ = 0;
};

// Bound `kind` (0 start, 1 end; anything else gives 0) of the business day
// that holds `now`, for a day starting at the time of day of `dayStart`. At
// exactly the day-start time the new business day has begun.
TDateTime BusinessDayBound(int kind, TDateTime now, TDateTime dayStart);

// A time of day as the POS keeps its day start: "h:mm" or "hh:mm", optionally
// ":ss", optionally followed by AM or PM (any case, blanks allowed before
// it). False for anything else, including hours or minutes out of range.
bool TryParseDayStart(std::string_view text, TDateTime& value);

// A number as the attendance insert writes it: rounded to 10 significant
// digits, fixed point, exactly 10 digits after the "." (12.5 gives
// "12.5000000000").
std::string FixedDecimal10(double value);

// Adds / removes the factory (by interface id, no name); every request makes
// a new TPlinthAttend.
void RegisterPlinthAttend(IPlinthDI& di);
void UnregisterPlinthAttend(IPlinthDI& di);

}  // namespace courio
