#include "common/util/DateTime.hpp"

#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>
#include <stdexcept>

namespace courio {
namespace {

// Days from 1899-12-30 to a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468 + 25569;  // 25569 = 1970-01-01
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z -= 25569;
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

long long ToMs(TDateTime v) { return std::llround(v * kMsPerDay); }
TDateTime FromMs(long long ms) { return static_cast<double>(ms) / kMsPerDay; }

std::mutex gClockMutex;
std::function<TDateTime()> gClock;  // guarded by gClockMutex

bool Digits(std::string_view s, size_t pos, size_t n, int& out) {
  if (pos + n > s.size()) return false;
  out = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

bool ValidDate(int y, int m, int d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  int max = kDays[m - 1] + (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0));
  return d <= max;
}

// Parses "hh:nn[:ss[.fff]]" at pos; returns the position after it.
bool ParseTime(std::string_view s, size_t& pos, long long& ms) {
  int h, n, sec = 0, frac = 0;
  if (!Digits(s, pos, 2, h) || pos + 2 >= s.size() || s[pos + 2] != ':' || !Digits(s, pos + 3, 2, n)) return false;
  pos += 5;
  if (pos < s.size() && s[pos] == ':') {
    if (!Digits(s, pos + 1, 2, sec)) return false;
    pos += 3;
    if (pos < s.size() && (s[pos] == '.' || s[pos] == ',')) {
      ++pos;
      int digits = 0;
      while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        if (digits < 3) frac = frac * 10 + (s[pos] - '0');
        ++digits;
        ++pos;
      }
      if (digits == 0) return false;
      for (int i = digits; i < 3; ++i) frac *= 10;
    }
  }
  if (h > 24 || n > 59 || sec > 59 || (h == 24 && (n || sec || frac))) return false;
  ms = ((h * 60LL + n) * 60 + sec) * 1000 + frac;
  return true;
}

bool ParseZone(std::string_view s, size_t pos) {
  if (pos == s.size()) return true;
  if (s[pos] == 'Z' || s[pos] == 'z') return pos + 1 == s.size();
  if (s[pos] == '+' || s[pos] == '-') {
    int hh, mm;
    if (!Digits(s, pos + 1, 2, hh)) return false;
    size_t p = pos + 3;
    if (p == s.size()) return true;
    if (s[p] == ':') ++p;
    return Digits(s, p, 2, mm) && p + 2 == s.size();
  }
  return false;
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  long long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  long long total = days * 86400000LL + ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
  return FromMs(total);
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  long long ms = ToMs(value);
  long long days = ms >= 0 ? ms / 86400000LL : -((-ms + 86400000LL - 1) / 86400000LL);
  long long rest = ms - days * 86400000LL;
  TDateTimeParts p;
  CivilFromDays(days, p.year, p.month, p.day);
  p.hour = static_cast<int>(rest / 3600000);
  p.minute = static_cast<int>(rest / 60000 % 60);
  p.second = static_cast<int>(rest / 1000 % 60);
  p.ms = static_cast<int>(rest % 1000);
  return p;
}

TDateTime DateOf(TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  return EncodeDateTime(p.year, p.month, p.day);
}

TDateTime TimeOf(TDateTime value) { return value - DateOf(value); }

TDateTime IncSecond(TDateTime value, long long seconds) { return FromMs(ToMs(value) + seconds * 1000); }

long long SecondsBetween(TDateTime a, TDateTime b) { return std::llabs(ToMs(a) - ToMs(b)) / 1000; }

TDateTime TruncToSecond(TDateTime value) {
  long long ms = ToMs(value);
  long long s = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  return FromMs(s * 1000);
}

std::string DateTimeToIso(TDateTime value) { return FormatDateTime("yyyy-mm-dd\"T\"hh:nn:ss", value); }

bool TryIsoToDateTime(std::string_view text, TDateTime& value) {
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  if (s.empty()) return false;
  size_t pos = 0;
  long long timeMs = 0;
  if (s[0] == 'T' || (s.size() >= 3 && s[2] == ':')) {  // time only
    if (s[0] == 'T') pos = 1;
    if (!ParseTime(s, pos, timeMs) || !ParseZone(s, pos)) return false;
    value = FromMs(timeMs);
    return true;
  }
  int y, m, d;
  if (!Digits(s, 0, 4, y)) return false;
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    if (!Digits(s, 5, 2, m) || !Digits(s, 8, 2, d)) return false;
    pos = 10;
  } else if (s.size() >= 8 && Digits(s, 4, 2, m) && Digits(s, 6, 2, d)) {
    pos = 8;  // basic form yyyymmdd
  } else {
    return false;
  }
  if (!ValidDate(y, m, d)) return false;
  if (pos < s.size() && (s[pos] == 'T' || s[pos] == ' ')) {
    ++pos;
    if (!ParseTime(s, pos, timeMs)) return false;
  }
  if (!ParseZone(s, pos)) return false;
  value = FromMs(DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) * 86400000LL + timeMs);
  return true;
}

TDateTime IsoToDateTime(std::string_view text) {
  TDateTime v;
  if (!TryIsoToDateTime(text, v)) throw std::invalid_argument("'" + std::string(text) + "' is not a valid ISO 8601 date-time");
  return v;
}

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  std::string out;
  auto two = [&](int v) {
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
  };
  for (size_t i = 0; i < pattern.size();) {
    auto at = [&](std::string_view tok) { return pattern.substr(i, tok.size()) == tok; };
    if (pattern[i] == '"' || pattern[i] == '\'') {  // quoted literal
      char q = pattern[i++];
      while (i < pattern.size() && pattern[i] != q) out += pattern[i++];
      ++i;
    } else if (at("yyyy")) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d", p.year);
      out += buf;
      i += 4;
    } else if (at("yy")) {
      two(p.year % 100);
      i += 2;
    } else if (at("mm")) {
      two(p.month);
      i += 2;
    } else if (at("dd")) {
      two(p.day);
      i += 2;
    } else if (at("hh")) {
      two(p.hour);
      i += 2;
    } else if (at("nn")) {
      two(p.minute);
      i += 2;
    } else if (at("ss")) {
      two(p.second);
      i += 2;
    } else if (at("zzz")) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%03d", p.ms);
      out += buf;
      i += 3;
    } else {
      out += pattern[i++];
    }
  }
  return out;
}

TDateTime SystemNow() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                        static_cast<int>(ms % 1000));
}

TDateTime Now() {
  std::function<TDateTime()> clock;
  {
    std::lock_guard lock(gClockMutex);
    clock = gClock;
  }
  return clock ? clock() : SystemNow();
}

TDateTime Today() { return DateOf(Now()); }

void SetClockForTesting(std::function<TDateTime()> clock) {
  std::lock_guard lock(gClockMutex);
  gClock = std::move(clock);
}

}  // namespace courio
