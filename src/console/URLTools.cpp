#include "console/URLTools.hpp"

#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Lookup(const TNameValues& list, std::string_view name) {
  for (const auto& [n, v] : list)
    if (SameText(n, name)) return v;
  return "";
}

}  // namespace

std::string URLDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

void TURLTools::Parse(std::string_view url) {
  Segments.clear();
  Params.clear();
  size_t question = url.find('?');
  std::string_view path = url.substr(0, question);
  for (auto& piece : Split(path, '/'))
    if (!piece.empty()) Segments.push_back(std::move(piece));
  ParseQuery(question == std::string_view::npos ? url : url.substr(question + 1));
}

void TURLTools::ParseQuery(std::string_view query) {
  for (const auto& piece : Split(query, '&')) {
    if (piece.empty()) continue;  // "a=1&&b=2": an empty piece names nothing
    size_t eq = piece.find('=');
    if (eq == std::string::npos) {
      Params.emplace_back(piece, "");
    } else {
      Params.emplace_back(piece.substr(0, eq), URLDecode(std::string_view(piece).substr(eq + 1)));
    }
  }
}

std::string TURLTools::Param(std::string_view name) const { return Lookup(Params, name); }

bool TURLTools::HasParam(std::string_view name) const {
  for (const auto& entry : Params)
    if (SameText(entry.first, name)) return true;
  return false;
}

void THeaderTools::Parse(std::string_view headers) {
  for (auto line : Split(headers, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    Headers.emplace_back(line.substr(0, colon), Trim(std::string_view(line).substr(colon + 1)));
  }
}

std::string THeaderTools::Header(std::string_view name) const { return Lookup(Headers, name); }

}  // namespace courio
