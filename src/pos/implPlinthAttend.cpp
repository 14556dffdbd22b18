#include "pos/implPlinthAttend.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "common/di/clsDIFactory.hpp"
#include "common/log/LogFacility.hpp"
#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

constexpr long long kMsPerDayInt = 86400000LL;

const char* const kSysDataQuery = "SELECT VALUE FROM SYSDATA WHERE CLASS = %s AND ITEM = %s";
const char* const kCurrentAttendQuery =
    "SELECT EMPLOYEE.EMPNUM as EmpNum, ATTEND.InDateTime, ATTEND.OutDateTime, ATTEND.ClockedOut, ATTEND.OnDelivery "
    "FROM EMPLOYEE LEFT JOIN ( SELECT EMPNUM, MAX( InDateTime ) AS MaxInDateTime FROM ATTEND WHERE InDateTime > %s "
    "AND InDateTime < %s GROUP BY EMPNUM ) ATT ON ATT.EMPNUM = EMPLOYEE.EMPNUM LEFT JOIN ATTEND ON ATTEND.EMPNUM = "
    "EMPLOYEE.EMPNUM AND ATTEND.InDateTime = ATT.MaxInDateTime WHERE DoesDeliveries = 1 AND ACTIVE = 1";
const char* const kEmployeeAttendQuery =
    "SELECT TOP 1 * FROM [Attend] WHERE [InDateTime] > %s AND [InDateTime] < %s AND [EmpNum] = %s ORDER BY "
    "[InDateTime] DESC";
const char* const kEmployeeQuery = "SELECT * FROM EMPLOYEE WHERE EMPNUM = %s";
const char* const kClockInStatement =
    "INSERT INTO [ATTEND] ( [EmpNum], [InDateTime], [HourlyRate], [KmRate], [OdoStart], [Float] ) VALUES ( %s, %s, "
    "%s, %s, %s, %s )";

long long ToMs(TDateTime t) { return std::llround(t * kMsPerDay); }

long long FloorDiv(long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// A rate of the employee record: null reads 0; a number, or a number
// written as text (how some drivers hand out decimals), as it is.
double RateValue(const TJson& value, const char* name) {
  if (value.is_null()) return 0;
  if (value.is_number()) return value.get<double>();
  if (value.is_string()) {
    const std::string text = Trim(value.get<std::string>());
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (!text.empty() && end == text.c_str() + text.size() && std::isfinite(v)) return v;
  }
  throw std::invalid_argument(std::string("The employee's ") + name + " is not a number : " + JsonDump(value));
}

// Reads `digits` decimal digits (at least min, at most max) at pos.
bool Number(std::string_view s, size_t& pos, size_t minDigits, size_t maxDigits, int& out) {
  size_t n = 0;
  out = 0;
  while (pos < s.size() && n < maxDigits && s[pos] >= '0' && s[pos] <= '9') {
    out = out * 10 + (s[pos] - '0');
    ++pos;
    ++n;
  }
  return n >= minDigits;
}

}  // namespace

TDateTime BusinessDayBound(int kind, TDateTime now, TDateTime dayStart) {
  if (kind != 0 && kind != 1) return 0;
  const long long nowMs = ToMs(now);
  const long long startMs = ToMs(dayStart);
  long long day = FloorDiv(nowMs, kMsPerDayInt);
  const long long t = nowMs - day * kMsPerDayInt;
  const long long s = startMs - FloorDiv(startMs, kMsPerDayInt) * kMsPerDayInt;
  if (t < s) --day;
  return static_cast<double>((day + kind) * kMsPerDayInt + s) / kMsPerDay;
}

bool TryParseDayStart(std::string_view text, TDateTime& value) {
  const std::string s = Trim(text);
  size_t pos = 0;
  int h = 0, m = 0, sec = 0;
  if (!Number(s, pos, 1, 2, h) || pos >= s.size() || s[pos] != ':') return false;
  ++pos;
  if (!Number(s, pos, 2, 2, m)) return false;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!Number(s, pos, 2, 2, sec)) return false;
  }
  while (pos < s.size() && s[pos] == ' ') ++pos;
  const std::string marker = UpperAscii(s.substr(pos));
  if (marker == "AM" || marker == "PM") {
    if (h < 1 || h > 12) return false;
    h = h % 12 + (marker == "PM" ? 12 : 0);
  } else if (!marker.empty() || h > 23) {
    return false;
  }
  if (m > 59 || sec > 59) return false;
  value = ((h * 60 + m) * 60 + sec) / 86400.0;
  return true;
}

std::string FixedDecimal10(double value) {
  if (!std::isfinite(value)) throw std::invalid_argument("A number to write is not finite");
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.9e", value);  // 10 significant digits
  const double rounded = std::strtod(buf, nullptr);
  const int exponent = std::atoi(std::strchr(buf, 'e') + 1);
  // Printed with no more decimals than the significant digits reach (so no
  // digits of the binary approximation show), then padded with zeros.
  const int decimals = std::clamp(9 - exponent, 0, 10);
  std::snprintf(buf, sizeof buf, "%.*f", decimals, rounded);
  std::string text = buf;
  if (decimals == 0) text += '.';
  return text + std::string(static_cast<size_t>(10 - decimals), '0');
}

void TPlinthAttend::Initialise(IDBManagerPtr db) {
  db_ = std::move(db);
  if (!db_) throw std::invalid_argument("TPlinthAttend needs a POS database manager");
  const std::string text = FetchSysDataValue("GLOBAL", "DAY START");
  TDateTime parsed = 0;
  if (!TryParseDayStart(text, parsed))
    throw std::invalid_argument("The business-day start '" + text +
                                "' (SYSDATA CLASS 'GLOBAL', ITEM 'DAY START') is not a time of day");
  dayStart_ = parsed;
}

std::string TPlinthAttend::FetchSysDataValue(const std::string& cls, const std::string& item) {
  return db_->QueryString(FormatFmt(kSysDataQuery, {QuotedStr(cls), QuotedStr(item)}), "VALUE");
}

void TPlinthAttend::Window(std::string& start, std::string& end) {
  if (!db_) throw std::logic_error("TPlinthAttend is not initialised");
  const TDateTime now = Now();
  start = db_->DateTimeToSQL(BusinessDayBound(0, now, dayStart_));
  end = db_->DateTimeToSQL(BusinessDayBound(1, now, dayStart_));
}

void TPlinthAttend::QueryRows(const std::string& format, std::initializer_list<TFmtArg> args, TJson& rows) {
  std::string json;
  db_->QueryJSONFmt(format, args, json);
  TJson doc;
  if (!json.empty() && TryParseJson(json, doc) && doc.is_array() && !doc.empty())
    rows = std::move(doc);
  else
    rows = TJson::array();
}

void TPlinthAttend::FetchCurretAttendJSON(TJson& attend) {
  attend = TJson::array();
  try {
    std::string start, end;
    Window(start, end);
    QueryRows(kCurrentAttendQuery, {start, end}, attend);
  } catch (const std::exception& e) {
    attend = TJson::array();
    Log(TLogLevel::Exception, "[TPlinthAttend.FetchCurretAttendJSON] Error : %", {e.what()});
  }
}

void TPlinthAttend::FetchEmployeeAttendJSON(const std::string& empNum, TJson& attend) {
  attend = TJson::array();
  try {
    std::string start, end;
    Window(start, end);
    QueryRows(kEmployeeAttendQuery, {start, end, QuotedStr(empNum)}, attend);
  } catch (const std::exception& e) {
    attend = TJson::array();
    Log(TLogLevel::Exception, "[TPlinthAttend.FetchEmployeeAttendJSON] Error : %", {e.what()});
  }
}

bool TPlinthAttend::FetchEmployeeJSON(const std::string& empNum, TJson& employee) {
  if (!db_) throw std::logic_error("TPlinthAttend is not initialised");
  QueryRows(kEmployeeQuery, {QuotedStr(empNum)}, employee);
  const bool found = employee.size() == 1;
  if (!found) employee = TJson::array();
  Log(TLogLevel::Info, "[TPlinthAttend.FetchEmployeeJSON] Employee: %", {JsonDump(employee)});
  LogFacility::Instance().Flush(true);
  return found;
}

void TPlinthAttend::ClockInEmployee(const std::string& empNum, TDateTime inDateTime, double odoStart,
                                    double floatAmount) {
  TJson employee;
  const bool found = FetchEmployeeJSON(empNum, employee);
  Log(TLogLevel::Info, "[TPlinthAttend.ClockInEmployee] Fetch Employee : %", {found});
  Log(TLogLevel::Info, "[TPlinthAttend.ClockInEmployee] Employee : %", {JsonDump(employee)});
  LogFacility::Instance().Flush(true);
  if (employee.empty()) return;
  const double hourlyRate = RateValue(JsonGet(employee[0], "HOURLYRATE"), "HOURLYRATE");
  const double kmRate = RateValue(JsonGet(employee[0], "KMRATE"), "KMRATE");
  db_->ExecuteFmt(kClockInStatement, {QuotedStr(empNum), db_->DateTimeToSQL(inDateTime), FixedDecimal10(hourlyRate),
                                      FixedDecimal10(kmRate), FixedDecimal10(odoStart), FixedDecimal10(floatAmount)});
}

bool TPlinthAttend::IsClockedOut(const TJson& attend) {
  if (!attend.is_array() || attend.empty()) return true;
  return AttendFlag(attend[0], "ClockedOut");
}

void RegisterPlinthAttend(IPlinthDI& di) { di.AddFactory(IPlinthAttend::IID, MakeFactory<TPlinthAttend>()); }
void UnregisterPlinthAttend(IPlinthDI& di) { di.RemoveFactory(IPlinthAttend::IID); }

}  // namespace courio
