#include "common/util/Format.hpp"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace courio {

std::string FloatToText15(double value) {
  if (value == 0) return "0";
  if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string s(buf);
  // %.15g switches to an exponent for very large or small magnitudes; keep
  // plain notation where it stays readable.
  if (s.find('e') != std::string::npos && std::fabs(value) >= 1e-5 && std::fabs(value) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.15f", value);
    s = buf;
  }
  if (s.find('.') != std::string::npos && s.find('e') == std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  return s;
}

std::string TFmtArg::Text() const {
  if (auto* i = std::get_if<long long>(&value_)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&value_)) return FloatToText15(*d);
  return std::get<std::string>(value_);
}

std::string FormatFmt(std::string_view format, std::initializer_list<TFmtArg> args) {
  std::string out;
  auto next = args.begin();
  auto take = [&]() -> const TFmtArg& {
    if (next == args.end()) throw std::invalid_argument("Format '" + std::string(format) + "' has too few arguments");
    return *next++;
  };
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i >= format.size()) throw std::invalid_argument("Format '" + std::string(format) + "' ends in '%'");
    if (format[i] == '%') {
      out += '%';
      continue;
    }
    // Optional precision ".N" (used with %f).
    int precision = -1;
    if (format[i] == '.') {
      precision = 0;
      while (++i < format.size() && format[i] >= '0' && format[i] <= '9') precision = precision * 10 + (format[i] - '0');
      if (i >= format.size()) throw std::invalid_argument("Format '" + std::string(format) + "' is incomplete");
    }
    const TFmtArg& a = take();
    switch (format[i]) {
      case 's':
        out += a.Text();
        break;
      case 'd':
      case 'u': {
        auto* v = std::get_if<long long>(&a.Value());
        if (!v) throw std::invalid_argument("Format '" + std::string(format) + "' invalid or incompatible with argument");
        out += std::to_string(*v);
        break;
      }
      case 'x': {
        auto* v = std::get_if<long long>(&a.Value());
        if (!v) throw std::invalid_argument("Format '" + std::string(format) + "' invalid or incompatible with argument");
        char buf[32];
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(*v));
        out += buf;
        break;
      }
      case 'f': {
        double d;
        if (auto* v = std::get_if<double>(&a.Value()))
          d = *v;
        else if (auto* n = std::get_if<long long>(&a.Value()))
          d = static_cast<double>(*n);
        else
          throw std::invalid_argument("Format '" + std::string(format) + "' invalid or incompatible with argument");
        char buf[512];
        std::snprintf(buf, sizeof buf, "%.*f", precision < 0 ? 2 : precision, d);
        out += buf;
        break;
      }
      default:
        throw std::invalid_argument("Format '" + std::string(format) + "' has an unknown directive");
    }
  }
  return out;
}

std::string FormatTemplate(std::string_view tmpl, std::initializer_list<TFmtArg> args) {
  std::string out;
  auto next = args.begin();
  for (char c : tmpl) {
    if (c == '%' && next != args.end()) {
      out += (next++)->Text();
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace courio
