#pragma once
// Two formatting styles used by the service:
//  * FormatFmt: the run-time library's printf-like rules ("%s", "%d", "%%", and
//    "%x", "%f" with an optional precision), used by the log manager's LogFmt
//    and the database manager's *Fmt operations. An argument of the wrong kind
//    for its directive raises std::invalid_argument.
//  * FormatTemplate: the log facility's "%" placeholders, each "%" replaced by
//    the text of the next argument.

#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace courio {

class TFmtArg {
 public:
  TFmtArg(int v) : value_(static_cast<long long>(v)) {}
  TFmtArg(long v) : value_(static_cast<long long>(v)) {}
  TFmtArg(long long v) : value_(v) {}
  TFmtArg(unsigned v) : value_(static_cast<long long>(v)) {}
  TFmtArg(unsigned long v) : value_(static_cast<long long>(v)) {}
  TFmtArg(unsigned long long v) : value_(static_cast<long long>(v)) {}
  TFmtArg(bool v) : value_(std::string(v ? "True" : "False")) {}
  TFmtArg(double v) : value_(v) {}
  TFmtArg(const char* v) : value_(std::string(v ? v : "")) {}
  TFmtArg(std::string v) : value_(std::move(v)) {}
  TFmtArg(std::string_view v) : value_(std::string(v)) {}

  // The argument's plain text (integers in decimal, floats in shortest form).
  std::string Text() const;
  const std::variant<long long, double, std::string>& Value() const { return value_; }

 private:
  std::variant<long long, double, std::string> value_;
};

std::string FormatFmt(std::string_view format, std::initializer_list<TFmtArg> args);
std::string FormatTemplate(std::string_view tmpl, std::initializer_list<TFmtArg> args);

// Shortest decimal text of a double with at most 15 significant digits, no
// exponent for ordinary magnitudes, no trailing zeros ("0" for zero).
std::string FloatToText15(double value);

}  // namespace courio
