// The JSON writer of the ODBC database manager: result rows as a JSON array
// of objects, each value in the form its column kind gives.
#include <cmath>
#include <cstdint>

#include "common/posdb/ODBCInternals.hpp"
#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

void AppendHex4(std::string& out, unsigned v) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  out += kHex[(v >> 12) & 0xF];
  out += kHex[(v >> 8) & 0xF];
  out += kHex[(v >> 4) & 0xF];
  out += kHex[v & 0xF];
}

// Length of a valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(std::string_view s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  return n;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
  out += '"';
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      size_t j = i + 1;
      while (j < s.size()) {
        unsigned char d = static_cast<unsigned char>(s[j]);
        if (d < 0x20 || d >= 0x80 || d == '"' || d == '\\') break;
        ++j;
      }
      out.append(s.data() + i, j - i);
      i = j;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      case '\b':
        out += "\\b";
        ++i;
        continue;
      case '\f':
        out += "\\f";
        ++i;
        continue;
      default:
        break;
    }
    if (c < 0x20) {
      AppendHex4(out, c);
      ++i;
      continue;
    }
    size_t n = Utf8Length(s, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(s.data() + i, n);
      i += n;
    }
  }
  out += '"';
}

std::string JsonDateText(TDateTime value) {
  TDateTimeParts p = DecodeDateTime(value);
  bool hasDay = !(p.year == 1899 && p.month == 12 && p.day == 30);
  bool hasTime = p.hour != 0 || p.minute != 0 || p.second != 0 || p.ms != 0;
  std::string out;
  if (hasDay) out = FormatDateTime("yyyy-mm-dd", value);
  if (hasTime) out += FormatDateTime("'T'hh:nn:ss", value);
  return out;
}

// Rows from the current one to the end as a JSON array ("null" when none).
std::string TODBCQuery::ToJson() {
  if (eof_) return "null";
  std::string out = "[";
  bool firstRow = true;
  while (!eof_) {
    if (!firstRow) out += ',';
    firstRow = false;
    out += '{';
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (i > 0) out += ',';
      out += columns_[i].jsonName;
      AppendJsonValue(out, i);
    }
    out += '}';
    Fetch();
  }
  out += ']';
  return out;
}

void TODBCQuery::AppendJsonValue(std::string& out, size_t i) const {
  const TResultCell& c = cells_[i];
  if (c.null) {
    out += "null";
    return;
  }
  switch (columns_[i].kind) {
    case TKind::Text:
    case TKind::Variant:
      AppendJsonString(out, c.text);
      return;
    case TKind::Bool:
      out += c.i != 0 ? "true" : "false";
      return;
    case TKind::Int:
      out += std::to_string(c.i);
      return;
    case TKind::Float:
      if (std::isfinite(c.f))
        out += FloatToText15(c.f);
      else
        out += "null";
      return;
    case TKind::Date:
    case TKind::Time:
    case TKind::DateTime:
    case TKind::TimeText:
    case TKind::DateTimeText:
      AppendJsonString(out, JsonDateText(c.dt));
      return;
    case TKind::Bytes:
      if (c.text.empty()) {
        out += "null";
      } else {
        out += '"';
        out += "\xEF\xBF\xB0";  // U+FFF0 marks Base64 data
        out += Base64Encode(c.text);
        out += '"';
      }
      return;
    case TKind::Other:
      out += "null";
      return;
  }
}

std::string TDBManagerODBC::QueryToJson(IDBQuery& query) {
  if (auto* odbc = dynamic_cast<TODBCQuery*>(&query)) return odbc->ToJson();
  // Another query kind: every value as text.
  if (query.Eof()) return "null";
  std::string out = "[";
  bool firstRow = true;
  while (!query.Eof()) {
    if (!firstRow) out += ',';
    firstRow = false;
    out += '{';
    for (int i = 0; i < query.FieldCount(); ++i) {
      std::string name = query.FieldName(i);
      if (i > 0) out += ',';
      AppendJsonString(out, name);
      out += ':';
      if (query.IsNull(name))
        out += "null";
      else
        AppendJsonString(out, query.AsString(name));
    }
    out += '}';
    query.Next();
  }
  return out + "]";
}

}  // namespace courio
