#pragma once
// The console's two small parsers.
//
// TURLTools splits a request URL (or a form body, which holds no "?") into
// path segments and query parameters: segments are the non-empty pieces of
// the path between "/", not decoded; parameters are the "&"-separated pieces
// after the first "?" (the whole text when there is none), split at their
// first "=", with the value URL-decoded and the name kept as written.
//
// THeaderTools reads raw header lines "Name: value".
//
// Lookups find the first entry whose name matches without regard to case and
// give "" when there is none. Plain values: not thread-safe, never throw.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace courio {

using TNameValues = std::vector<std::pair<std::string, std::string>>;

// "+" becomes a blank, "%" and two hex digits that byte; any other "%" stays.
std::string URLDecode(std::string_view text);

class TURLTools {
 public:
  // Clears both lists, then fills them from `url`.
  void Parse(std::string_view url);
  // Appends the parameters of a query text to Params.
  void ParseQuery(std::string_view query);

  // The value of the first parameter named `name`, "" when absent.
  std::string Param(std::string_view name) const;
  bool HasParam(std::string_view name) const;

  std::vector<std::string> Segments;
  TNameValues Params;
};

class THeaderTools {
 public:
  // One header per line; the value is the text after the first ":" without
  // the blanks around it (with or without a blank after the colon).
  void Parse(std::string_view headers);
  std::string Header(std::string_view name) const;

  TNameValues Headers;
};

}  // namespace courio
