#pragma once
// A registry export file in REGEDIT format ("Windows Registry Editor Version
// 5.00" or "REGEDIT4"), as `reg export` writes it: UTF-16LE with a BOM, or
// UTF-8/ASCII with or without a BOM.
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Quorvane\Plinth]      a key ([-...] deletes one)
//   "Name"="text with \" and \\ escaped"                a string (REG_SZ)
//   @="..."                                             the key's default value
//   "Name"=dword:0000000a                               REG_DWORD
//   "Name"=hex(2):41,00,42,00,00,00                     REG_EXPAND_SZ (UTF-16LE bytes;
//                                                       single bytes in REGEDIT4 files)
//   "Name"=hex:01,02,\                                  other types; a trailing backslash
//     03                                                continues the data on the next line
//   "Name"=-                                            deletes the value
//   ; comment
//
// Key paths and value names are case-insensitive. A malformed file is read as
// far as it is well-formed: parsing stops at the first bad line, which is
// reported (line number and reason) in TRegFile::Error.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace courio {

enum class TRegType { String, ExpandString, DWord, Other };

struct TRegValue {
  TRegType type = TRegType::Other;
  std::string text;  // String / ExpandString: UTF-8, cut at the first NUL
  uint32_t dword = 0;
  std::string raw;   // Other: the data bytes as written (hex types) or the data text
};

struct TRegParseError {
  int line = 0;  // 1-based; 0 = no error
  std::string reason;
};

class TRegFile {
 public:
  // Parses file content (any of the encodings above).
  static TRegFile Parse(std::string_view bytes);
  // Reads and parses a file. A missing or unreadable file gives an empty
  // result with Exists() false and no error.
  static TRegFile Load(const std::string& path);

  bool Exists() const { return exists_; }
  const TRegParseError& Error() const { return error_; }

  // The key (full path, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\Quorvane\Plinth",
  // any case; "HKLM\" accepted for the hive), or nullptr.
  const std::map<std::string, TRegValue>* FindKey(std::string_view path) const;
  // A value of a key ("" or "@" for the default value), or nullptr.
  const TRegValue* FindValue(std::string_view keyPath, std::string_view name) const;
  size_t KeyCount() const { return keys_.size(); }

 private:
  bool exists_ = false;
  TRegParseError error_;
  // Lower-cased key path -> (lower-cased value name -> value).
  std::map<std::string, std::map<std::string, TRegValue>> keys_;
};

// Text helpers exposed for tests and tools.
std::string Utf16LeToUtf8(std::string_view bytes);

}  // namespace courio
