// The two working pages of the console: the settings editor and the
// database-query page. Both build JSON page data and render their template;
// every statement runs under the store's lock (TConsoleStatements).
#include "common/log/LogFacility.hpp"
#include "common/util/StrUtils.hpp"
#include "console/ConsoleStatements.hpp"
#include "console/URLTools.hpp"
#include "console/ViewRenderer.hpp"
#include "console/implCourioHTTP.hpp"

namespace courio {
namespace {

const char* const kDefaultQuery = "SELECT * FROM | WHERE 1=1";

// A cell of the result table: null is empty, numbers in decimal, texts as
// stored; escaped, so stored mark-up shows as text.
std::string CellText(const TJson& value) { return HtmlEscape(JsonAsText(value)); }

}  // namespace

const std::vector<std::string>& TCourioHTTP::SettingsNames() {
  static const std::vector<std::string> kNames = {
      "WebService",          "Account",      "Store",             "NewInvoice",
      "RemoteChanges",       "DriverAssigned", "RemoteDriverChanges", "DriverEvents",
      "CollectToDelivery",   "DeliveryToCollect", "InvoiceOverring", "Uploader",
  };
  return kNames;
}

std::string TCourioHTTP::Handle_Settings(const TConsoleRequest& request) {
  TJson data = TJson::object();
  TURLTools url;
  url.Parse(request.url);
  data["Settings"] = SettingsNames();
  if (url.Segments.size() == 3) {
    const std::string name = url.Segments[2];
    data["Setting"] = name;
    auto store = Store();
    TConsoleStatements statements(store->GetDatabase(), stopping_, kStatementTimeLimit);
    if (SameText(request.method, "POST")) {
      TURLTools form;
      form.Parse(request.body);
      TJson newValue = TJson::object();
      for (const auto& [field, value] : form.Params) newValue[field] = form.Param(field);
      data["NewValue"] = newValue;
      statements.Execute("UPDATE settings SET Value = " + QuotedStr(JsonDump(newValue)) +
                         " WHERE Name = " + QuotedStr(name));
      Log(TLogLevel::Info, "[TCourioHTTP.Handle_Settings] Settings row % changed", {name});
    }
    TJson row = ParseJson(statements.ExecuteJSON("SELECT * FROM settings WHERE name = " + QuotedStr(name)));
    data["Row"] = row;
    if (!row.is_array() || row.empty()) throw std::runtime_error("There is no settings row named '" + name + "'");
    TJson values;
    if (!TryParseJson(JsonAsText(JsonGet(row[0], "Value")), values) ||
        !(values.is_object() || (values.is_array() && values.empty())))
      throw std::runtime_error("The value of the settings row '" + name + "' is not a JSON object");
    data["Values"] = values;
    TJson formData = TJson::array();
    for (const auto& [key, value] : values.items()) formData.push_back({{"Name", key}, {"Value", value}});
    data["FormData"] = formData;
  }
  return RenderView("settings.html", data);
}

std::string TCourioHTTP::Handle_DatabaseQuery(const TConsoleRequest& request) {
  TJson data = TJson::object();
  if (SameText(request.method, "POST")) {
    TURLTools form;
    form.Parse(request.body);
    const std::string query = form.Param("query");
    data["Query"] = query;
    Log(TLogLevel::Info, "[TCourioHTTP.Handle_DatabaseQuery] Query : %", {query});
    Log(TLogLevel::Info, "[TCourioHTTP.Handle_DatabaseQuery]  : %", {LogFacility::Instance().FileName()});
    const std::string action = form.Param("action");
    if (SameText(action, "result")) {
      auto store = Store();
      TConsoleStatements statements(store->GetDatabase(), stopping_, kStatementTimeLimit);
      TJson rows = ParseJson(statements.ExecuteJSON(query));
      data["Rows"] = rows;
      data["ResultData"] = rows.is_array() ? ResultTable(rows)
                                           : "<div class=\"msg\"><strong>No Result</strong> The query returned no rows</div>";
    } else if (SameText(action, "exec")) {
      auto store = Store();
      TConsoleStatements statements(store->GetDatabase(), stopping_, kStatementTimeLimit);
      long long changed = statements.Execute(query);
      data["ResultData"] = "<div class=\"msg\"><strong>Query Executed</strong> " + std::to_string(changed) +
                           " rows modified</div>";
    }
  } else {
    data["Query"] = kDefaultQuery;
  }
  return RenderView("databasequery.html", data);
}

std::string TCourioHTTP::ResultTable(const TJson& rows) {
  std::string html =
      "<table class=\"table\" style=\"border:1px solid gray;border-collapse: separate;border-spacing: 2px;"
      "border-color: gray;\"><thead><tr>";
  const TJson& first = rows.at(0);
  for (const auto& [column, value] : first.items()) html += "<th>" + HtmlEscape(column) + "</th>";
  html += "</tr></thead><tbody>";
  const size_t columns = first.size();
  for (const auto& row : rows) {
    html += "<tr>";
    size_t position = 0;
    for (auto it = row.begin(); it != row.end() && position < columns; ++it, ++position)
      html += "<td>" + CellText(*it) + "</td>";
    for (; position < columns; ++position) html += "<td></td>";
    html += "</tr>";
  }
  html += "</tbody></table>";
  return html;
}

}  // namespace courio
