#pragma once
// Local wall-clock date-times as day counts since 30 December 1899 00:00 with
// the time of day as the fraction (the form the cloud API also uses on the
// wire). Conversions round to whole milliseconds.
//
// The clock seam: every "now" in the service comes from Now(), which tests
// replace with SetClockForTesting so gaps and business days need no sleeping.

#include <functional>
#include <string>
#include <string_view>

namespace courio {

using TDateTime = double;

constexpr double kMsPerDay = 86400000.0;

struct TDateTimeParts {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, ms = 0;
};

TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0);
TDateTimeParts DecodeDateTime(TDateTime value);
TDateTime DateOf(TDateTime value);  // midnight of the value's day
TDateTime TimeOf(TDateTime value);  // the time-of-day fraction
TDateTime IncSecond(TDateTime value, long long seconds);
// Whole seconds between two times: absolute difference, fraction dropped.
long long SecondsBetween(TDateTime a, TDateTime b);
// Drops the milliseconds.
TDateTime TruncToSecond(TDateTime value);

// "yyyy-mm-ddThh:nn:ss" (19 characters).
std::string DateTimeToIso(TDateTime value);
// Accepts "yyyy-mm-dd", "yyyy-mm-ddThh:nn[:ss[.fff]]" (or a blank instead of
// the T), "Thh:nn:ss" and "hh:nn:ss", with an optional trailing "Z" or
// "+hh:mm"/"-hh:mm" zone, which is ignored (times are taken as local).
bool TryIsoToDateTime(std::string_view text, TDateTime& value);
// As TryIsoToDateTime, throwing std::invalid_argument naming the text.
TDateTime IsoToDateTime(std::string_view text);

// Delphi-style patterns: yyyy yy mm dd hh nn ss zzz; other characters copied.
std::string FormatDateTime(std::string_view pattern, TDateTime value);

// Local time from the system clock (ignores the test clock).
TDateTime SystemNow();
// The service's "now": the system clock unless a test clock is installed.
TDateTime Now();
TDateTime Today();
// Installs a clock (nullptr restores the system clock).
void SetClockForTesting(std::function<TDateTime()> clock);

}  // namespace courio
