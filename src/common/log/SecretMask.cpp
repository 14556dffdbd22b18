#include "common/log/SecretMask.hpp"

#include <cctype>

#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

constexpr std::string_view kMask = "***";

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Finds `key` (case-insensitive) at a word start from `from`.
size_t FindKey(const std::string& text, std::string_view key, size_t from) {
  std::string lower = LowerAscii(text);
  std::string k = LowerAscii(key);
  for (size_t hit = lower.find(k, from); hit != std::string::npos; hit = lower.find(k, hit + 1)) {
    if (hit == 0 || !IsWordChar(text[hit - 1])) return hit;
  }
  return std::string::npos;
}

// "key":"value" (JSON) -> "key":"***"; also tolerates blanks around the colon
// and escaped quotes inside the value.
void MaskJsonKey(std::string& text, std::string_view key) {
  std::string quoted = "\"" + std::string(key) + "\"";
  size_t from = 0;
  while (true) {
    std::string lower = LowerAscii(text);
    size_t hit = lower.find(LowerAscii(quoted), from);
    if (hit == std::string::npos) return;
    size_t p = hit + quoted.size();
    while (p < text.size() && text[p] == ' ') ++p;
    if (p >= text.size() || text[p] != ':') {
      from = hit + 1;
      continue;
    }
    ++p;
    while (p < text.size() && text[p] == ' ') ++p;
    if (p < text.size() && text[p] == '"') {
      size_t end = p + 1;
      while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
      if (end > text.size()) end = text.size();
      text.replace(p + 1, end - (p + 1), kMask);
      from = p + 1 + kMask.size();
    } else {
      from = p;
    }
  }
}

// key=value; (connection strings) -> key=***; a braced value {..} counts whole.
void MaskAssignment(std::string& text, std::string_view key) {
  size_t from = 0;
  while (true) {
    size_t hit = FindKey(text, key, from);
    if (hit == std::string::npos) return;
    size_t p = hit + key.size();
    while (p < text.size() && text[p] == ' ') ++p;
    if (p >= text.size() || text[p] != '=') {
      from = hit + 1;
      continue;
    }
    ++p;
    size_t end = p;
    if (end < text.size() && text[end] == '{') {
      end = text.find('}', end);
      end = end == std::string::npos ? text.size() : end + 1;
    } else {
      while (end < text.size() && text[end] != ';' && text[end] != '"' && text[end] != '\r' && text[end] != '\n') ++end;
    }
    text.replace(p, end - p, kMask);
    from = p + kMask.size();
  }
}

void MaskAuthorization(std::string& text) {
  size_t from = 0;
  while (true) {
    size_t hit = FindKey(text, "Authorization:", from);
    if (hit == std::string::npos) return;
    size_t p = hit + 14;
    while (p < text.size() && text[p] == ' ') ++p;
    // Keep the scheme word, mask the credential.
    size_t scheme = p;
    while (p < text.size() && text[p] != ' ' && text[p] != '\r' && text[p] != '\n') ++p;
    if (p < text.size() && text[p] == ' ') {
      ++p;
    } else {
      p = scheme;
    }
    size_t end = p;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n' && text[end] != '"') ++end;
    text.replace(p, end - p, kMask);
    from = p + kMask.size();
  }
}

}  // namespace

std::string MaskSecrets(std::string_view input) {
  std::string text(input);
  // Cheap pre-check: most lines carry none of the markers.
  std::string lower = LowerAscii(text);
  if (lower.find("pass") == std::string::npos && lower.find("pwd") == std::string::npos &&
      lower.find("authorization") == std::string::npos)
    return text;
  MaskJsonKey(text, "password");
  MaskJsonKey(text, "password_hash");
  MaskAssignment(text, "PWD");
  MaskAssignment(text, "Password");
  MaskAuthorization(text);
  return text;
}

}  // namespace courio
