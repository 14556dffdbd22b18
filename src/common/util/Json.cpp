#include "common/util/Json.hpp"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "common/util/Format.hpp"
#include "common/util/StrUtils.hpp"

namespace courio {
namespace {
const TJson& Null() {
  static const TJson kNull;
  return kNull;
}

// Deepest nesting of arrays/objects in the text, ignoring string contents.
size_t NestingDepth(std::string_view text) {
  size_t depth = 0, deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > deepest) deepest = depth;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}
}  // namespace

const TJson& JsonGet(const TJson& obj, std::string_view key) {
  if (!obj.is_object()) return Null();
  auto exact = obj.find(std::string(key));
  if (exact != obj.end()) return *exact;
  for (auto it = obj.begin(); it != obj.end(); ++it)
    if (SameText(it.key(), key)) return it.value();
  return Null();
}

const TJson& JsonAt(const TJson& arr, size_t index) {
  if (!arr.is_array() || index >= arr.size()) return Null();
  return arr[index];
}

size_t JsonCount(const TJson& value) { return value.is_array() || value.is_object() ? value.size() : 0; }

std::string JsonAsText(const TJson& value) {
  switch (value.type()) {
    case TJson::value_t::null:
      return "";
    case TJson::value_t::string:
      return value.get<std::string>();
    case TJson::value_t::boolean:
      return value.get<bool>() ? "true" : "false";
    case TJson::value_t::number_integer:
      return std::to_string(value.get<long long>());
    case TJson::value_t::number_unsigned:
      return std::to_string(value.get<unsigned long long>());
    case TJson::value_t::number_float:
      return FloatToText15(value.get<double>());
    default:
      return JsonDump(value);
  }
}

long long JsonAsInt(const TJson& value) {
  if (value.is_number_integer()) return value.get<long long>();
  if (value.is_number_float()) return static_cast<long long>(value.get<double>());
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_string()) {
    long long v;
    std::string t = Trim(value.get<std::string>());
    if (TryParseInt64(t, v)) return v;
    throw std::invalid_argument("'" + value.get<std::string>() + "' is not a valid integer value");
  }
  throw std::invalid_argument("Could not convert " + (value.is_null() ? std::string("null") : JsonDump(value)) +
                              " to an integer");
}

bool JsonAsBool(const TJson& value) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0;
  if (value.is_string()) {
    if (SameText(value.get<std::string>(), "true")) return true;
    if (SameText(value.get<std::string>(), "false")) return false;
  }
  throw std::invalid_argument("Could not convert " + (value.is_null() ? std::string("null") : JsonDump(value)) +
                              " to a Boolean");
}

std::string JsonAsStrictText(const TJson& value, std::string_view what) {
  if (value.is_null()) throw std::invalid_argument("Could not convert null " + std::string(what) + " to text");
  return JsonAsText(value);
}

std::string JsonDump(const TJson& value) { return value.dump(-1, ' ', false, TJson::error_handler_t::replace); }

bool TryParseJson(std::string_view text, TJson& out, size_t maxDepth) {
  out = nullptr;
  if (NestingDepth(text) > maxDepth) return false;
  TJson parsed = TJson::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return false;
  out = std::move(parsed);
  return true;
}

TJson ParseJson(std::string_view text) {
  TJson out;
  if (!TryParseJson(text, out)) {
    std::string head(text.substr(0, 60));
    throw std::invalid_argument("Invalid JSON: '" + head + (text.size() > 60 ? "...'" : "'"));
  }
  return out;
}

double Round15(double value) {
  if (value == 0 || !std::isfinite(value)) return value;
  return std::strtod(FloatToText15(value).c_str(), nullptr);
}

}  // namespace courio
