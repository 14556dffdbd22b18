#pragma once
// Helpers shared by cloud-sim's source files: JSON answers and reading the
// request bodies and times the simulator accepts.

#include <httplib.h>

#include <optional>
#include <string>

#include "common/util/DateTime.hpp"
#include "common/util/Json.hpp"

namespace courio::sim {

using httplib::Request;
using httplib::Response;

inline void Reply(Response& res, const TJson& body, int status = 200) {
  res.status = status;
  res.set_content(JsonDump(body), "application/json");
}

inline void ReplyError(Response& res, int status, const std::string& message) {
  Reply(res, TJson{{"error", message}}, status);
}

inline TJson Iso(const std::optional<TDateTime>& t) { return t ? TJson(DateTimeToIso(*t)) : TJson(nullptr); }

// A JSON object body, or nullopt (and a 400 answer) when it is not one.
inline std::optional<TJson> ObjectBody(const Request& req, Response& res) {
  TJson doc;
  if (!TryParseJson(req.body, doc) || !doc.is_object()) {
    ReplyError(res, 400, "body is not a JSON object");
    return std::nullopt;
  }
  return doc;
}

// A time given as ISO text or as a day count; nullopt when absent or unreadable.
inline std::optional<TDateTime> TimeValue(const TJson& value) {
  if (value.is_number()) return value.get<double>();
  TDateTime t = 0;
  if (value.is_string() && TryIsoToDateTime(value.get<std::string>(), t)) return t;
  return std::nullopt;
}

inline TDateTime Later(const std::optional<TDateTime>& a, TDateTime b) { return a && *a > b ? *a : b; }

}  // namespace courio::sim
