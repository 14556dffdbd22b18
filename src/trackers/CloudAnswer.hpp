#pragma once
// Reading the change answers of the cloud (deliveries, driver statuses): the
// members a remote tracker needs, checked before anything is applied, with
// error messages that say which member of which object was wrong.

#include <optional>
#include <string>

#include "common/util/DateTime.hpp"
#include "common/util/Json.hpp"

namespace courio {

// At most `limit` characters of `text` for a log line ("..." marks the cut).
std::string ShortenForLog(const std::string& text, size_t limit = 200);

// A member holding a date-time text (read with the shared ISO 8601 parser):
// null or a blank text reads as absent; anything else that is not a
// date-time throws std::invalid_argument naming `where` and the key.
std::optional<TDateTime> CloudTimeMember(const TJson& object, const char* key, const std::string& where);

// A member holding an identifier: text or a whole number as text; null reads
// as "". Anything else throws std::invalid_argument naming `where` and the key.
std::string CloudIdMember(const TJson& object, const char* key, const std::string& where);

// Whether `a` is later than `b`, compared to the millisecond, so that two
// texts naming the same second are equal however they were written.
bool LaterThan(TDateTime a, TDateTime b);

}  // namespace courio
