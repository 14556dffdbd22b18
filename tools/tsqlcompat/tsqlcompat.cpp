// SQLite loadable extension supplying the T-SQL functions the point-of-sale
// statements use: PATINDEX, CHARINDEX, LEN, SUBSTRING, GETDATE, DATEADD,
// DATEDIFF, TSQL_DATETIME and TSQL_INT (the targets of the CAST( x AS DATETIME )
// and CAST( x AS INT ) rewrites).
//
// Where the server refuses a value (a negative SUBSTRING length, text that is
// not a whole number for INT) these functions fail the statement with the
// server's message too, so a statement that would fail on the server fails
// here instead of quietly giving SQLite's lenient answer.
//
// Date-times are exchanged as text "yyyy-mm-dd hh:nn:ss" (with ".fff" when the
// milliseconds are not zero), the form the POS tables store, so that plain text
// comparisons order them correctly. Text comparisons in PATINDEX/CHARINDEX
// ignore case like the POS server's default collation.
//
// Self-contained on purpose: it is loaded into the ODBC driver's process space
// and must not drag in the service library.

#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/time.h>
#include <vector>

namespace {

// ---- UTF-8 -----------------------------------------------------------------

std::u32string Decode(const unsigned char* s, int n) {
  std::u32string out;
  out.reserve(static_cast<size_t>(n));
  int i = 0;
  while (i < n) {
    unsigned char c = s[i];
    char32_t cp = c;
    int len = 1;
    if (c >= 0xF0 && i + 3 < n + 0 && (c & 0xF8) == 0xF0) {
      cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3Fu);
      len = 4;
    } else if (c >= 0xE0 && i + 2 < n && (c & 0xF0) == 0xE0) {
      cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
      len = 3;
    } else if (c >= 0xC0 && i + 1 < n && (c & 0xE0) == 0xC0) {
      cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
      len = 2;
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

char32_t Fold(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  // Latin-1 capitals (except the multiplication sign).
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

// ---- LIKE patterns (%, _, [set], [^set]) -------------------------------------

bool MatchSet(const std::u32string& p, size_t& pi, char32_t c) {
  // p[pi] == '['; on return pi is past the closing ']'.
  size_t i = pi + 1;
  bool negate = false;
  if (i < p.size() && p[i] == '^') {
    negate = true;
    ++i;
  }
  bool hit = false;
  bool first = true;
  while (i < p.size() && (p[i] != ']' || first)) {
    first = false;
    char32_t lo = Fold(p[i]);
    char32_t hi = lo;
    if (i + 2 < p.size() && p[i + 1] == '-' && p[i + 2] != ']') {
      hi = Fold(p[i + 2]);
      i += 2;
    }
    if (Fold(c) >= lo && Fold(c) <= hi) hit = true;
    ++i;
  }
  pi = i < p.size() ? i + 1 : i;
  return hit != negate;
}

// Does pattern p (from pi) match text t from ti, allowing anything after the
// pattern's end only when the pattern ends in '%'?
bool Like(const std::u32string& p, size_t pi, const std::u32string& t, size_t ti) {
  while (pi < p.size()) {
    char32_t pc = p[pi];
    if (pc == '%') {
      while (pi < p.size() && p[pi] == '%') ++pi;
      if (pi == p.size()) return true;
      for (size_t k = ti; k <= t.size(); ++k)
        if (Like(p, pi, t, k)) return true;
      return false;
    }
    if (ti >= t.size()) return false;
    if (pc == '_') {
      ++pi;
      ++ti;
    } else if (pc == '[' && p.find(U']', pi + 1) != std::u32string::npos) {
      if (!MatchSet(p, pi, t[ti])) return false;
      ++ti;
    } else {
      if (Fold(pc) != Fold(t[ti])) return false;
      ++pi;
      ++ti;
    }
  }
  return ti == t.size();
}

// PATINDEX( pattern, expression ): one-based position of the first match, 0 when none.
void PatIndex(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const unsigned char* ps = sqlite3_value_text(argv[0]);
  int pn = sqlite3_value_bytes(argv[0]);
  const unsigned char* ts = sqlite3_value_text(argv[1]);
  int tn = sqlite3_value_bytes(argv[1]);
  std::u32string p = Decode(ps, pn), t = Decode(ts, tn);
  if (p.empty() || p[0] != '%') {
    sqlite3_result_int64(ctx, Like(p, 0, t, 0) ? 1 : 0);
    return;
  }
  size_t start = 0;
  while (start < p.size() && p[start] == '%') ++start;
  for (size_t i = 0; i <= t.size(); ++i) {
    if (Like(p, start, t, i)) {
      // A pattern of only '%' matches at 1 for non-empty text, 0 for empty text.
      sqlite3_result_int64(ctx, (start == p.size() && t.empty()) ? 0 : static_cast<sqlite3_int64>(i + 1));
      return;
    }
  }
  sqlite3_result_int64(ctx, 0);
}

// CHARINDEX( find, expression [, start] ): one-based position, 0 when absent.
void CharIndex(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::u32string f = Decode(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0]));
  std::u32string t = Decode(sqlite3_value_text(argv[1]), sqlite3_value_bytes(argv[1]));
  sqlite3_int64 start = argc > 2 ? sqlite3_value_int64(argv[2]) : 1;
  if (start < 1) start = 1;
  if (f.empty()) {
    sqlite3_result_int64(ctx, 0);
    return;
  }
  for (size_t i = static_cast<size_t>(start - 1); i + f.size() <= t.size(); ++i) {
    size_t k = 0;
    while (k < f.size() && Fold(f[k]) == Fold(t[i + k])) ++k;
    if (k == f.size()) {
      sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(i + 1));
      return;
    }
  }
  sqlite3_result_int64(ctx, 0);
}

// LEN( expression ): characters without trailing blanks.
void Len(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::u32string t = Decode(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0]));
  while (!t.empty() && t.back() == ' ') t.pop_back();
  sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(t.size()));
}

// SUBSTRING( expression, start, length ): the characters from position start
// (one-based; positions before 1 count but give nothing) for length
// characters. A negative length fails like the server (SQLite's own substr
// would count backwards instead).
void Substring(sqlite3_context* ctx, int, sqlite3_value** argv) {
  for (int i = 0; i < 3; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  sqlite3_int64 start = sqlite3_value_int64(argv[1]);
  sqlite3_int64 length = sqlite3_value_int64(argv[2]);
  if (length < 0) {
    sqlite3_result_error(ctx, "Invalid length parameter passed to the LEFT or SUBSTRING function.", -1);
    return;
  }
  const unsigned char* s = sqlite3_value_text(argv[0]);
  int n = sqlite3_value_bytes(argv[0]);
  // Byte offsets of the characters, so the result keeps the text's own bytes.
  std::vector<int> offsets;
  for (int i = 0; i < n; ++i)
    if ((s[i] & 0xC0) != 0x80) offsets.push_back(i);
  offsets.push_back(n);
  const sqlite3_int64 count = static_cast<sqlite3_int64>(offsets.size()) - 1;
  // Clamped far beyond any text's length so the sum below cannot overflow.
  constexpr sqlite3_int64 kFar = sqlite3_int64{1} << 40;
  if (start < -kFar) start = -kFar;
  if (start > kFar) start = kFar;
  if (length > kFar) length = kFar;
  sqlite3_int64 first = start < 1 ? 1 : start;  // one-based, inclusive
  sqlite3_int64 last = start + length - 1;      // inclusive
  if (last > count) last = count;
  if (first > last) {
    sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
    return;
  }
  int from = offsets[static_cast<size_t>(first - 1)];
  int to = offsets[static_cast<size_t>(last)];
  sqlite3_result_text(ctx, reinterpret_cast<const char*>(s) + from, to - from, SQLITE_TRANSIENT);
}

// TSQL_INT( x ): CAST( x AS INT ). Text may carry blanks around an optional
// sign and digits; empty text (or a sign alone) is 0. Anything else, and any
// value outside the 32-bit range, fails with the server's message.
void ToInt(sqlite3_context* ctx, int, sqlite3_value** argv) {
  constexpr sqlite3_int64 kMin = -2147483648LL, kMax = 2147483647LL;
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
      sqlite3_result_null(ctx);
      return;
    case SQLITE_INTEGER: {
      sqlite3_int64 v = sqlite3_value_int64(argv[0]);
      if (v < kMin || v > kMax) break;
      sqlite3_result_int64(ctx, v);
      return;
    }
    case SQLITE_FLOAT: {
      double d = sqlite3_value_double(argv[0]);
      if (!(d > static_cast<double>(kMin) - 1.0 && d < static_cast<double>(kMax) + 1.0)) break;
      sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(d));  // toward zero, as the server does
      return;
    }
    default: {
      const unsigned char* t = sqlite3_value_text(argv[0]);
      std::string text(t ? reinterpret_cast<const char*>(t) : "", static_cast<size_t>(sqlite3_value_bytes(argv[0])));
      size_t b = 0, e = text.size();
      while (b < e && text[b] == ' ') ++b;
      while (e > b && text[e - 1] == ' ') --e;
      bool negative = false;
      if (b < e && (text[b] == '+' || text[b] == '-')) negative = text[b++] == '-';
      sqlite3_int64 v = 0;
      bool overflow = false;
      for (size_t i = b; i < e; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
          std::string msg = "Conversion failed when converting the varchar value '" + text + "' to data type int.";
          sqlite3_result_error(ctx, msg.c_str(), -1);
          return;
        }
        if (!overflow) {
          v = v * 10 + (text[i] - '0');
          if (v > kMax + 1) overflow = true;
        }
      }
      if (negative) v = -v;
      if (overflow || v < kMin || v > kMax) {
        std::string msg = "The conversion of the varchar value '" + text + "' overflowed an int column.";
        sqlite3_result_error(ctx, msg.c_str(), -1);
        return;
      }
      sqlite3_result_int64(ctx, v);
      return;
    }
  }
  sqlite3_result_error(ctx, "Arithmetic overflow error converting expression to data type int.", -1);
}

// ---- date-times -----------------------------------------------------------------

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// Milliseconds since 1970-01-01 00:00 (the text is local time; no zone applies).
using Millis = int64_t;
constexpr Millis kMsDay = 86400000;

bool Digits(const std::string& s, size_t pos, size_t count, int& out) {
  if (pos + count > s.size()) return false;
  out = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

// Accepts "yyyy-mm-dd", "yyyymmdd", either followed by " " or "T" and a time,
// and a time alone ("hh:nn[:ss[.fff]]", day 1900-01-01 as on the POS server).
bool ParseDateTime(std::string s, Millis& out) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  size_t b = 0;
  while (b < s.size() && s[b] == ' ') ++b;
  s = s.substr(b);
  int y = 1900, mo = 1, d = 1, h = 0, mi = 0, se = 0, ms = 0;
  size_t pos = 0;
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    if (!Digits(s, 0, 4, y) || !Digits(s, 5, 2, mo) || !Digits(s, 8, 2, d)) return false;
    pos = 10;
  } else if (s.size() >= 8 && Digits(s, 0, 8, y) && (s.size() == 8 || s[8] == ' ' || s[8] == 'T')) {
    Digits(s, 0, 4, y);
    Digits(s, 4, 2, mo);
    Digits(s, 6, 2, d);
    pos = 8;
  } else if (s.size() >= 5 && s[2] == ':') {
    pos = 0;  // time alone
  } else {
    return false;
  }
  if (pos > 0 && pos < s.size()) {
    if (s[pos] != ' ' && s[pos] != 'T') return false;
    ++pos;
  }
  if (pos < s.size()) {
    if (!Digits(s, pos, 2, h) || pos + 2 >= s.size() || s[pos + 2] != ':' || !Digits(s, pos + 3, 2, mi))
      return false;
    pos += 5;
    if (pos < s.size() && s[pos] == ':') {
      if (!Digits(s, pos + 1, 2, se)) return false;
      pos += 3;
      if (pos < s.size() && s[pos] == '.') {
        ++pos;
        int scale = 100;
        while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
          ms += (s[pos] - '0') * scale;
          scale /= 10;
          ++pos;
        }
      }
    }
    if (pos != s.size()) return false;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || se > 59) return false;
  out = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * kMsDay +
        ((h * 60 + mi) * 60 + se) * 1000LL + ms;
  return true;
}

std::string FormatDateTime(Millis v) {
  int64_t days = v >= 0 ? v / kMsDay : -((-v + kMsDay - 1) / kMsDay);
  Millis rest = v - days * kMsDay;
  int y, m, d;
  CivilFromDays(days, y, m, d);
  int h = static_cast<int>(rest / 3600000), mi = static_cast<int>(rest / 60000 % 60);
  int se = static_cast<int>(rest / 1000 % 60), ms = static_cast<int>(rest % 1000);
  char buf[40];
  if (ms == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, h, mi, se);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, m, d, h, mi, se, ms);
  return buf;
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

bool ValueDateTime(sqlite3_context* ctx, sqlite3_value* v, Millis& out) {
  const unsigned char* t = sqlite3_value_text(v);
  std::string s(t ? reinterpret_cast<const char*>(t) : "");
  if (!ParseDateTime(s, out)) {
    sqlite3_result_error(ctx, "Conversion failed when converting date and/or time from character string.", -1);
    return false;
  }
  return true;
}

void GetDate(sqlite3_context* ctx, int, sqlite3_value**) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t secs = tv.tv_sec;
  struct tm lt;
  localtime_r(&secs, &lt);
  Millis v = DaysFromCivil(lt.tm_year + 1900, static_cast<unsigned>(lt.tm_mon + 1), static_cast<unsigned>(lt.tm_mday)) *
                 kMsDay +
             ((lt.tm_hour * 60 + lt.tm_min) * 60 + lt.tm_sec) * 1000LL + tv.tv_usec / 1000;
  ResultText(ctx, FormatDateTime(v));
}

enum class Part { Year, Quarter, Month, DayOfYear, Day, Week, Weekday, Hour, Minute, Second, Millisecond, Bad };

Part ParsePart(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  std::string s;
  for (const unsigned char* p = t; p && *p; ++p) s += static_cast<char>(std::tolower(*p));
  struct Name {
    const char* name;
    Part part;
  };
  static const Name kNames[] = {
      {"year", Part::Year},       {"yy", Part::Year},          {"yyyy", Part::Year},
      {"quarter", Part::Quarter}, {"qq", Part::Quarter},       {"q", Part::Quarter},
      {"month", Part::Month},     {"mm", Part::Month},         {"m", Part::Month},
      {"dayofyear", Part::DayOfYear}, {"dy", Part::DayOfYear}, {"y", Part::DayOfYear},
      {"day", Part::Day},         {"dd", Part::Day},           {"d", Part::Day},
      {"week", Part::Week},       {"wk", Part::Week},          {"ww", Part::Week},
      {"weekday", Part::Weekday}, {"dw", Part::Weekday},       {"w", Part::Weekday},
      {"hour", Part::Hour},       {"hh", Part::Hour},          {"minute", Part::Minute},
      {"mi", Part::Minute},       {"n", Part::Minute},         {"second", Part::Second},
      {"ss", Part::Second},       {"s", Part::Second},         {"millisecond", Part::Millisecond},
      {"ms", Part::Millisecond},
  };
  for (const Name& n : kNames)
    if (s == n.name) return n.part;
  return Part::Bad;
}

Millis AddMonths(Millis v, int64_t months) {
  int64_t days = v >= 0 ? v / kMsDay : -((-v + kMsDay - 1) / kMsDay);
  Millis rest = v - days * kMsDay;
  int y, m, d;
  CivilFromDays(days, y, m, d);
  int64_t total = static_cast<int64_t>(y) * 12 + (m - 1) + months;
  int ny = static_cast<int>(total >= 0 ? total / 12 : (total - 11) / 12);
  int nm = static_cast<int>(total - static_cast<int64_t>(ny) * 12) + 1;
  int nd = d > DaysInMonth(ny, nm) ? DaysInMonth(ny, nm) : d;
  return DaysFromCivil(ny, static_cast<unsigned>(nm), static_cast<unsigned>(nd)) * kMsDay + rest;
}

// DATEADD( datepart, number, date )
void DateAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  Part part = ParsePart(argv[0]);
  int64_t n = sqlite3_value_int64(argv[1]);
  Millis v;
  if (!ValueDateTime(ctx, argv[2], v)) return;
  switch (part) {
    case Part::Year: v = AddMonths(v, n * 12); break;
    case Part::Quarter: v = AddMonths(v, n * 3); break;
    case Part::Month: v = AddMonths(v, n); break;
    case Part::DayOfYear:
    case Part::Day:
    case Part::Weekday: v += n * kMsDay; break;
    case Part::Week: v += n * 7 * kMsDay; break;
    case Part::Hour: v += n * 3600000; break;
    case Part::Minute: v += n * 60000; break;
    case Part::Second: v += n * 1000; break;
    case Part::Millisecond: v += n; break;
    case Part::Bad:
      sqlite3_result_error(ctx, "DATEADD: unknown datepart", -1);
      return;
  }
  ResultText(ctx, FormatDateTime(v));
}

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// DATEDIFF( datepart, start, end ): boundaries of the part crossed.
void DateDiff(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  Part part = ParsePart(argv[0]);
  Millis a, b;
  if (!ValueDateTime(ctx, argv[1], a) || !ValueDateTime(ctx, argv[2], b)) return;
  int ya, ma, da, yb, mb, db;
  CivilFromDays(FloorDiv(a, kMsDay), ya, ma, da);
  CivilFromDays(FloorDiv(b, kMsDay), yb, mb, db);
  int64_t r = 0;
  switch (part) {
    case Part::Year: r = yb - ya; break;
    case Part::Quarter: r = (yb * 4 + (mb - 1) / 3) - (ya * 4 + (ma - 1) / 3); break;
    case Part::Month: r = (yb * 12 + mb) - (ya * 12 + ma); break;
    case Part::DayOfYear:
    case Part::Day:
    case Part::Weekday: r = FloorDiv(b, kMsDay) - FloorDiv(a, kMsDay); break;
    // Weeks start on Sunday; 1970-01-01 was a Thursday.
    case Part::Week: r = FloorDiv(FloorDiv(b, kMsDay) + 4, 7) - FloorDiv(FloorDiv(a, kMsDay) + 4, 7); break;
    case Part::Hour: r = FloorDiv(b, 3600000) - FloorDiv(a, 3600000); break;
    case Part::Minute: r = FloorDiv(b, 60000) - FloorDiv(a, 60000); break;
    case Part::Second: r = FloorDiv(b, 1000) - FloorDiv(a, 1000); break;
    case Part::Millisecond: r = b - a; break;
    case Part::Bad:
      sqlite3_result_error(ctx, "DATEDIFF: unknown datepart", -1);
      return;
  }
  sqlite3_result_int64(ctx, r);
}

// TSQL_DATETIME( x ): x as a date-time in the stored text form (CAST( x AS DATETIME )).
void ToDateTime(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  Millis v;
  if (!ValueDateTime(ctx, argv[0], v)) return;
  ResultText(ctx, FormatDateTime(v));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int sqlite3_couriotsql_init(sqlite3* db, char** errMsg,
                                                                               const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  (void)errMsg;
  const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  struct Fn {
    const char* name;
    int args;
    int flags;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  const Fn fns[] = {
      {"PATINDEX", 2, det, PatIndex},   {"CHARINDEX", 2, det, CharIndex}, {"CHARINDEX", 3, det, CharIndex},
      {"LEN", 1, det, Len},             {"GETDATE", 0, SQLITE_UTF8, GetDate}, {"DATEADD", 3, det, DateAdd},
      {"DATEDIFF", 3, det, DateDiff},   {"TSQL_DATETIME", 1, det, ToDateTime},
      // Replaces SQLite's own three-argument SUBSTRING (an alias of substr).
      {"SUBSTRING", 3, det, Substring}, {"TSQL_INT", 1, det, ToInt},
  };
  for (const Fn& f : fns) {
    int rc = sqlite3_create_function(db, f.name, f.args, f.flags, nullptr, f.fn, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

extern "C" __attribute__((visibility("default"))) int sqlite3_extension_init(sqlite3* db, char** errMsg,
                                                                              const sqlite3_api_routines* api) {
  return sqlite3_couriotsql_init(db, errMsg, api);
}
