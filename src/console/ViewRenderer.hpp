#pragma once
// Page rendering: a Mustache template file rendered with JSON page data.
//
// Templates are read at every call (nothing is cached, so an edited file
// shows at the next request). A byte-order mark selects UTF-8 or UTF-16
// (either order); without one the file is taken as UTF-8, the system's
// encoding. A missing file renders as empty text. Double-brace tags insert
// HTML-escaped text, triple-brace tags raw text, sections iterate arrays;
// there are no partials and no lambdas.
//
// JSON values become Mustache data as follows: objects and arrays keep their
// shape, texts stay texts, numbers and true/false become their JSON text,
// null is false (its sections are skipped, its tag renders nothing).
//
// Thread-safe (no shared state). Failure: a template that does not parse
// throws std::runtime_error naming the file.

#include <string>
#include <string_view>

#include "common/util/Json.hpp"

namespace courio {

// The five characters that matter in HTML text and attribute values.
std::string HtmlEscape(std::string_view text);

// Reads a template file as UTF-8 text; "" when it cannot be read.
std::string ReadTemplateFile(const std::string& fileName);

// Renders template text with the page data.
std::string RenderTemplate(const std::string& templateText, const TJson& data, const std::string& what);

}  // namespace courio
