#pragma once
// JSON documents: nlohmann::ordered_json (member order matters on the wire)
// plus the service's reading rules: keys are looked up without regard to case
// and an absent key reads as null.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace courio {

using TJson = nlohmann::ordered_json;

// The member `key` of an object, matched exactly first, then without regard
// to ASCII case; a shared null when absent or when `obj` is not an object.
const TJson& JsonGet(const TJson& obj, std::string_view key);
// Element `index` of an array, or a shared null.
const TJson& JsonAt(const TJson& arr, size_t index);
// Number of elements of an array or members of an object; 0 otherwise.
size_t JsonCount(const TJson& value);

// Conversions with the reading rules of the service:
//  text: null -> "", strings as they are, numbers in decimal, true/false;
//  int:  integers, floats truncated, numeric strings; anything else throws;
//  bool: booleans, numbers (non-zero), "true"/"false"; anything else throws.
std::string JsonAsText(const TJson& value);
long long JsonAsInt(const TJson& value);
bool JsonAsBool(const TJson& value);
// Strict text: throws std::invalid_argument naming `what` when null.
std::string JsonAsStrictText(const TJson& value, std::string_view what);

// Compact text; invalid UTF-8 in strings is replaced, never thrown.
std::string JsonDump(const TJson& value);
// Parses text; false (and a null `out`) for anything that is not JSON or is
// nested deeper than `maxDepth`. Never throws.
bool TryParseJson(std::string_view text, TJson& out, size_t maxDepth = 256);
// As TryParseJson, throwing std::invalid_argument with a short reason.
TJson ParseJson(std::string_view text);

// A double rounded to 15 significant digits, so that its JSON form has at
// most 15 significant digits and no trailing zeros.
double Round15(double value);

}  // namespace courio
