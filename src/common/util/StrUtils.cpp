#include "common/util/StrUtils.hpp"

#include <cctype>
#include <charconv>

namespace courio {
namespace {
char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  return true;
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

std::string LowerAscii(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = LowerChar(c);
  return s;
}

std::string UpperAscii(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = UpperChar(c);
  return s;
}

std::string RemoveAllText(std::string_view text, std::string_view what) {
  if (what.empty()) return std::string(text);
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (i + what.size() <= text.size() && SameText(text.substr(i, what.size()), what)) {
      i += what.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with) {
  if (what.empty()) return std::string(text);
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t hit = text.find(what, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(with);
    pos = hit + what.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
  return std::string(text.substr(b, e - b));
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (true) {
    size_t hit = text.find(separator, pos);
    parts.emplace_back(text.substr(pos, hit == std::string_view::npos ? std::string_view::npos : hit - pos));
    if (hit == std::string_view::npos) break;
    pos = hit + 1;
  }
  return parts;
}

std::string QuotedStr(std::string_view text) { return "'" + ReplaceAll(text, "'", "''") + "'"; }

bool TryParseInt64(std::string_view text, long long& value) {
  if (text.empty()) return false;
  const char* b = text.data();
  const char* e = b + text.size();
  if (*b == '+') ++b;
  auto [p, ec] = std::from_chars(b, e, value);
  return ec == std::errc() && p == e && b != e;
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string HexLower(const unsigned char* data, size_t size) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 15];
  }
  return out;
}

}  // namespace courio
