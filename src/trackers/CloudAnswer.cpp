#include "trackers/CloudAnswer.hpp"

#include <cmath>
#include <stdexcept>

#include "common/util/Format.hpp"
#include "common/util/StrUtils.hpp"

namespace courio {

std::string ShortenForLog(const std::string& text, size_t limit) {
  return text.size() <= limit ? text : text.substr(0, limit) + "...";
}

std::optional<TDateTime> CloudTimeMember(const TJson& object, const char* key, const std::string& where) {
  const TJson& value = JsonGet(object, key);
  if (value.is_null()) return std::nullopt;
  if (value.is_string()) {
    const std::string text = Trim(value.get<std::string>());
    if (text.empty()) return std::nullopt;
    TDateTime t = 0;
    if (TryIsoToDateTime(text, t)) return t;
  }
  throw std::invalid_argument(
      FormatTemplate("%: \"%\" is not a date-time : %", {where, key, ShortenForLog(JsonDump(value))}));
}

std::string CloudIdMember(const TJson& object, const char* key, const std::string& where) {
  const TJson& value = JsonGet(object, key);
  if (value.is_null() || value.is_string() || value.is_number_integer() || value.is_number_unsigned())
    return JsonAsText(value);
  throw std::invalid_argument(
      FormatTemplate("%: \"%\" is not an identifier : %", {where, key, ShortenForLog(JsonDump(value))}));
}

bool LaterThan(TDateTime a, TDateTime b) { return std::llround(a * kMsPerDay) > std::llround(b * kMsPerDay); }

}  // namespace courio
