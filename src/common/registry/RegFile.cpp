#include "common/registry/RegFile.hpp"

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

// Windows-1252 bytes (REGEDIT4 data) to UTF-8; 0x80-0x9F taken as Latin-1.
std::string AnsiToUtf8(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) AppendUtf8(out, c);
  return out;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

std::string NormaliseKey(std::string_view path) {
  std::string p = Trim(path);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  if (StartsWithText(p, "HKLM\\") || SameText(p, "HKLM")) p = "HKEY_LOCAL_MACHINE" + p.substr(4);
  return LowerAscii(p);
}

std::string NormaliseName(std::string_view name) {
  if (name == "@") return "";
  return LowerAscii(name);
}

struct Parser {
  std::vector<std::string> lines;
  size_t index = 0;  // next line to read
  bool regedit4 = false;
  TRegParseError error;

  bool Fail(int line, std::string reason) {
    error.line = line;
    error.reason = std::move(reason);
    return false;
  }
};

// Parses a quoted string starting at text[pos] == '"'; pos ends past the closing quote.
bool ParseQuoted(const std::string& text, size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < text.size()) {
    char c = text[pos];
    if (c == '\\' && pos + 1 < text.size()) {
      char n = text[pos + 1];
      // Only \\ and \" are escapes; any other backslash stands for itself.
      if (n == '\\' || n == '"') {
        out += n;
        pos += 2;
        continue;
      }
      out += c;
      ++pos;
      continue;
    }
    if (c == '"') {
      ++pos;
      return true;
    }
    out += c;
    ++pos;
  }
  return false;
}

bool ParseHexBytes(std::string_view data, std::string& out) {
  out.clear();
  std::string digits;
  for (size_t i = 0; i <= data.size(); ++i) {
    char c = i < data.size() ? data[i] : ',';
    if (c == ' ' || c == '\t') continue;
    if (c == ',') {
      if (digits.empty()) {
        if (i == data.size()) break;  // trailing comma or empty data
        return false;
      }
      if (digits.size() > 2) return false;
      out += static_cast<char>(std::stoi(digits, nullptr, 16));
      digits.clear();
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  return true;
}

std::string CutAtNul(std::string text) {
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

}  // namespace

std::string Utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  size_t n = bytes.size() / 2;
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = static_cast<unsigned char>(bytes[2 * i]) | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
      uint32_t lo =
          static_cast<unsigned char>(bytes[2 * i + 2]) | (static_cast<unsigned char>(bytes[2 * i + 3]) << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

TRegFile TRegFile::Parse(std::string_view bytes) {
  TRegFile file;
  file.exists_ = true;
  std::string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    text = Utf16LeToUtf8(bytes.substr(2));
  } else if (bytes.size() >= 4 && bytes[0] != 0 && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0) {
    text = Utf16LeToUtf8(bytes);  // UTF-16LE that lost its BOM
  } else if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
             static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
    text = std::string(bytes.substr(3));
  } else {
    text = std::string(bytes);
  }

  Parser p;
  {
    std::string line;
    for (char c : text) {
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        p.lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    if (!line.empty()) {
      if (line.back() == '\r') line.pop_back();
      p.lines.push_back(line);
    }
  }

  // Header: the first non-blank line.
  size_t i = 0;
  while (i < p.lines.size() && Trim(p.lines[i]).empty()) ++i;
  if (i == p.lines.size()) {
    file.error_ = {1, "the file is empty"};
    return file;
  }
  std::string header = Trim(p.lines[i]);
  if (header == "REGEDIT4") {
    p.regedit4 = true;
    // REGEDIT4 files are written in the ANSI code page.
    if (!IsValidUtf8(text))
      for (auto& l : p.lines) l = AnsiToUtf8(l);
  } else if (header != "Windows Registry Editor Version 5.00") {
    file.error_ = {static_cast<int>(i + 1), "not a registry export (expected \"Windows Registry Editor Version 5.00\" "
                                             "or \"REGEDIT4\")"};
    return file;
  }
  ++i;

  std::map<std::string, TRegValue>* current = nullptr;  // null: outside a key or in a deleted key
  bool inDeletedKey = false;
  while (i < p.lines.size()) {
    int lineNo = static_cast<int>(i + 1);
    std::string line = p.lines[i++];
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (trimmed[0] == '[') {
      if (trimmed.back() != ']') {
        file.error_ = {lineNo, "a key line must end with ']'"};
        return file;
      }
      std::string path = trimmed.substr(1, trimmed.size() - 2);
      if (!path.empty() && path[0] == '-') {
        std::string key = NormaliseKey(path.substr(1));
        for (auto it = file.keys_.begin(); it != file.keys_.end();) {
          if (it->first == key || (it->first.size() > key.size() && it->first.compare(0, key.size(), key) == 0 &&
                                   it->first[key.size()] == '\\'))
            it = file.keys_.erase(it);
          else
            ++it;
        }
        current = nullptr;
        inDeletedKey = true;
        continue;
      }
      if (Trim(path).empty()) {
        file.error_ = {lineNo, "empty key name"};
        return file;
      }
      current = &file.keys_[NormaliseKey(path)];
      inDeletedKey = false;
      continue;
    }
    // A value line.
    size_t pos = 0;
    std::string name;
    if (trimmed[0] == '@') {
      pos = 1;
      name = "";
    } else if (trimmed[0] == '"') {
      if (!ParseQuoted(trimmed, pos, name)) {
        file.error_ = {lineNo, "unterminated value name"};
        return file;
      }
    } else {
      file.error_ = {lineNo, "expected a key in [brackets] or a \"value\"=data line"};
      return file;
    }
    while (pos < trimmed.size() && trimmed[pos] == ' ') ++pos;
    if (pos >= trimmed.size() || trimmed[pos] != '=') {
      file.error_ = {lineNo, "expected '=' after the value name"};
      return file;
    }
    ++pos;
    while (pos < trimmed.size() && trimmed[pos] == ' ') ++pos;
    if (current == nullptr && !inDeletedKey) {
      file.error_ = {lineNo, "a value before any key"};
      return file;
    }
    std::string data = trimmed.substr(pos);
    TRegValue value;
    bool remove = false;
    if (data == "-") {
      remove = true;
    } else if (!data.empty() && data[0] == '"') {
      size_t q = 0;
      std::string s;
      if (!ParseQuoted(data, q, s) || !Trim(data.substr(q)).empty()) {
        file.error_ = {lineNo, "malformed string data"};
        return file;
      }
      value.type = TRegType::String;
      value.text = CutAtNul(s);
    } else if (StartsWithText(data, "dword:")) {
      std::string digits = Trim(data.substr(6));
      if (digits.empty() || digits.size() > 8 ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        file.error_ = {lineNo, "malformed dword data"};
        return file;
      }
      value.type = TRegType::DWord;
      value.dword = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
    } else if (StartsWithText(data, "hex")) {
      // Join continuation lines (trailing backslash).
      while (!data.empty() && data.back() == '\\') {
        data.pop_back();
        if (i >= p.lines.size()) {
          file.error_ = {lineNo, "the data continues past the end of the file"};
          return file;
        }
        lineNo = static_cast<int>(i + 1);
        data += Trim(p.lines[i++]);
      }
      size_t colon = data.find(':');
      if (colon == std::string::npos) {
        file.error_ = {lineNo, "malformed hex data (no ':')"};
        return file;
      }
      std::string kind = LowerAscii(data.substr(0, colon));
      std::string bytes;
      if (!ParseHexBytes(std::string_view(data).substr(colon + 1), bytes)) {
        file.error_ = {lineNo, "malformed hex data"};
        return file;
      }
      if (kind == "hex(2)") {
        value.type = TRegType::ExpandString;
        value.text = CutAtNul(p.regedit4 ? AnsiToUtf8(bytes) : Utf16LeToUtf8(bytes));
      } else if (kind == "hex" || (kind.size() > 5 && kind.compare(0, 4, "hex(") == 0 && kind.back() == ')')) {
        value.type = TRegType::Other;
        value.raw = bytes;
      } else {
        file.error_ = {lineNo, "unknown data type '" + kind + "'"};
        return file;
      }
    } else {
      file.error_ = {lineNo, "unknown data type"};
      return file;
    }
    if (current == nullptr) continue;  // values of a deleted key
    if (remove)
      current->erase(NormaliseName(name));
    else
      (*current)[NormaliseName(name)] = std::move(value);
  }
  return file;
}

TRegFile TRegFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return TRegFile{};
  std::ostringstream ss;
  ss << in.rdbuf();
  return Parse(ss.str());
}

const std::map<std::string, TRegValue>* TRegFile::FindKey(std::string_view path) const {
  auto it = keys_.find(NormaliseKey(path));
  return it == keys_.end() ? nullptr : &it->second;
}

const TRegValue* TRegFile::FindValue(std::string_view keyPath, std::string_view name) const {
  const auto* key = FindKey(keyPath);
  if (key == nullptr) return nullptr;
  auto it = key->find(NormaliseName(name));
  return it == key->end() ? nullptr : &it->second;
}

}  // namespace courio
