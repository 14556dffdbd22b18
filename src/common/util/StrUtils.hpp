#pragma once
// Folder common/util: text, format, JSON and date-time helpers, the home folder and the exception
// types.
// May use: nothing else of ours (the standard library and nlohmann/json only). Dependencies point
// downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// Small text helpers shared by every subsystem.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace courio {

// ASCII case-insensitive equality (the registry's and the container's rule).
bool SameText(std::string_view a, std::string_view b);
bool StartsWithText(std::string_view text, std::string_view prefix);
std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);
// Removes every occurrence of `what`, matched without regard to ASCII case.
std::string RemoveAllText(std::string_view text, std::string_view what);
// Replaces every occurrence of `what` (exact case).
std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with);
// Trims blanks and control characters (bytes <= 0x20) at both ends.
std::string Trim(std::string_view text);
std::vector<std::string> Split(std::string_view text, char separator);
// SQL string literal: single quotes around, every quote inside doubled.
std::string QuotedStr(std::string_view text);
// Parses a whole decimal integer (optional sign, no blanks); false otherwise.
bool TryParseInt64(std::string_view text, long long& value);
std::string Base64Encode(std::string_view bytes);
// Appends the UTF-8 encoding of a Unicode code point.
void AppendUtf8(std::string& out, uint32_t codePoint);
std::string HexLower(const unsigned char* data, size_t size);

}  // namespace courio
