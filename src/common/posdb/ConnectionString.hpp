#pragma once
// Connection strings for the POS database.
//
// The registry holds an OLE DB connection string as the POS installation
// writes it; ODBC needs its own form. TranslateConnectionString maps
//   Data Source -> Server (HOST\INSTANCE and HOST,PORT kept), Initial Catalog ->
//   Database, User ID -> UID, Password -> PWD, plus the FreeTDS options
//   TDS_Version=7.4;ClientCharset=UTF-8; Provider and Persist Security Info
//   are dropped.
// A string that already holds Driver= or DSN= is an ODBC string and is used as
// it stands. Integrated Security=SSPI cannot work here and raises.
//
// Passwords never leave through MaskConnectionString; use it for every log line.

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace courio {

class EConnectionString : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TConnectionItems = std::vector<std::pair<std::string, std::string>>;

// Splits "key=value;key=value". Values may be quoted with "..." or '...'
// (a doubled quote inside stands for one) or braced {...} (ODBC; "}}" stands
// for "}"). Keys and unquoted values are trimmed. Items without "=" are kept
// with an empty value.
TConnectionItems ParseConnectionString(std::string_view text);
// The value of `key` (case-insensitive; the last one wins), or "".
std::string ConnectionValue(const TConnectionItems& items, std::string_view key);
bool HasConnectionKey(const TConnectionItems& items, std::string_view key);
// Joins items as an ODBC string, bracing values that need it.
std::string JoinOdbcConnectionString(const TConnectionItems& items);

// The ODBC driver section used for an OLE DB string (odbcinst.ini).
inline constexpr const char* kDefaultSqlServerDriver = "FreeTDS";

// OLE DB -> ODBC (see above). An ODBC string comes back unchanged.
// Throws EConnectionString for Integrated Security / Trusted_Connection.
std::string TranslateConnectionString(std::string_view text,
                                      std::string_view sqlServerDriver = kDefaultSqlServerDriver);

// True when the ODBC string names the SQLite3 ODBC driver.
bool NamesSqliteDriver(std::string_view odbc);
// Adds LoadExt=<extension> to an ODBC string naming the SQLite3 driver (once).
std::string WithSqliteExtension(std::string_view odbc, const std::string& extensionPath);

// The string with every password value replaced by "***".
std::string MaskConnectionString(std::string_view text);

}  // namespace courio
