#include "common/posdb/ConnectionString.hpp"

#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

bool IsOneOf(std::string_view key, std::initializer_list<std::string_view> names) {
  for (std::string_view n : names)
    if (SameText(key, n)) return true;
  return false;
}

bool IsTrueText(std::string_view v) {
  return SameText(v, "SSPI") || SameText(v, "true") || SameText(v, "yes");
}

bool IsPasswordKey(std::string_view key) { return IsOneOf(key, {"Password", "PWD"}); }

// "(local)" and "." name the local server on Windows; keep any \INSTANCE or ,PORT.
std::string TranslateServer(std::string_view server) {
  std::string s(server);
  if (StartsWithText(s, "tcp:")) s = s.substr(4);
  size_t cut = s.find_first_of("\\,");
  std::string host = s.substr(0, cut);
  std::string rest = cut == std::string::npos ? "" : s.substr(cut);
  if (host == "." || SameText(host, "(local)") || SameText(host, "(localdb)")) host = "127.0.0.1";
  return host + rest;
}

}  // namespace

TConnectionItems ParseConnectionString(std::string_view text) {
  TConnectionItems items;
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = i;
    while (eq < text.size() && text[eq] != '=' && text[eq] != ';') ++eq;
    std::string key = Trim(text.substr(i, eq - i));
    if (eq >= text.size() || text[eq] == ';') {
      if (!key.empty()) items.emplace_back(key, "");
      i = eq + 1;
      continue;
    }
    size_t v = eq + 1;
    while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
    std::string value;
    if (v < text.size() && (text[v] == '"' || text[v] == '\'' || text[v] == '{')) {
      char close = text[v] == '{' ? '}' : text[v];
      size_t k = v + 1;
      while (k < text.size()) {
        if (text[k] == close) {
          if (k + 1 < text.size() && text[k + 1] == close) {
            value += close;
            k += 2;
            continue;
          }
          break;
        }
        value += text[k++];
      }
      // Skip to the next separator.
      while (k < text.size() && text[k] != ';') ++k;
      i = k + 1;
    } else {
      size_t k = v;
      while (k < text.size() && text[k] != ';') ++k;
      value = Trim(text.substr(v, k - v));
      i = k + 1;
    }
    if (!key.empty()) items.emplace_back(key, value);
  }
  return items;
}

std::string ConnectionValue(const TConnectionItems& items, std::string_view key) {
  std::string value;
  for (const auto& [k, v] : items)
    if (SameText(k, key)) value = v;
  return value;
}

bool HasConnectionKey(const TConnectionItems& items, std::string_view key) {
  for (const auto& item : items)
    if (SameText(item.first, key)) return true;
  return false;
}

std::string JoinOdbcConnectionString(const TConnectionItems& items) {
  std::string out;
  for (const auto& [k, v] : items) {
    if (!out.empty()) out += ';';
    out += k;
    out += '=';
    bool brace = v.find_first_of(";{}") != std::string::npos || (!v.empty() && (v.front() == ' ' || v.back() == ' '));
    if (brace) {
      out += '{';
      out += ReplaceAll(v, "}", "}}");
      out += '}';
    } else {
      out += v;
    }
  }
  return out;
}

std::string TranslateConnectionString(std::string_view text, std::string_view sqlServerDriver) {
  TConnectionItems items = ParseConnectionString(text);
  if (HasConnectionKey(items, "Driver") || HasConnectionKey(items, "DSN") || HasConnectionKey(items, "FILEDSN"))
    return std::string(text);
  std::string server, database, uid, pwd, app, wsid;
  for (const auto& [key, value] : items) {
    if (IsOneOf(key, {"Data Source", "Server", "Address", "Addr", "Network Address"})) {
      server = TranslateServer(value);
    } else if (IsOneOf(key, {"Initial Catalog", "Database"})) {
      database = value;
    } else if (IsOneOf(key, {"User ID", "UID", "User"})) {
      uid = value;
    } else if (IsPasswordKey(key)) {
      pwd = value;
    } else if (IsOneOf(key, {"Application Name", "APP"})) {
      app = value;
    } else if (IsOneOf(key, {"Workstation ID", "WSID"})) {
      wsid = value;
    } else if (IsOneOf(key, {"Integrated Security", "Trusted_Connection"}) && IsTrueText(value)) {
      throw EConnectionString(
          "Integrated Security=SSPI (Windows authentication) is not supported: put a SQL Server login "
          "(User ID and Password, or a DOMAIN\\user login) in the connection string");
    }
    // Provider, Persist Security Info and the remaining OLE DB properties have
    // no ODBC counterpart and are dropped.
  }
  TConnectionItems out;
  out.emplace_back("Driver", std::string(sqlServerDriver));
  if (!server.empty()) out.emplace_back("Server", server);
  if (!database.empty()) out.emplace_back("Database", database);
  if (!uid.empty()) out.emplace_back("UID", uid);
  if (!pwd.empty()) out.emplace_back("PWD", pwd);
  if (!app.empty()) out.emplace_back("APP", app);
  if (!wsid.empty()) out.emplace_back("WSID", wsid);
  out.emplace_back("TDS_Version", "7.4");
  out.emplace_back("ClientCharset", "UTF-8");
  return JoinOdbcConnectionString(out);
}

bool NamesSqliteDriver(std::string_view odbc) {
  std::string driver = LowerAscii(ConnectionValue(ParseConnectionString(odbc), "Driver"));
  return driver.find("sqlite3") != std::string::npos;
}

std::string WithSqliteExtension(std::string_view odbc, const std::string& extensionPath) {
  std::string text(odbc);
  if (!NamesSqliteDriver(text) || HasConnectionKey(ParseConnectionString(text), "LoadExt")) return text;
  while (!text.empty() && (text.back() == ';' || text.back() == ' ')) text.pop_back();
  return text + ";LoadExt=" + extensionPath;
}

std::string MaskConnectionString(std::string_view text) {
  TConnectionItems items = ParseConnectionString(text);
  for (auto& [k, v] : items)
    if (IsPasswordKey(k)) v = "***";
  return JoinOdbcConnectionString(items);
}

}  // namespace courio
