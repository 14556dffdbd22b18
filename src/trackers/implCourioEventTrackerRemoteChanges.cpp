#include "trackers/implCourioEventTrackerRemoteChanges.hpp"

#include <cmath>
#include <optional>
#include <stdexcept>
#include <vector>

#include "cloud/intfCourioAPI.hpp"
#include "common/util/Errors.hpp"
#include "common/log/LogFacility.hpp"
#include "common/util/StrUtils.hpp"
#include "common/rest/intfRestClient.hpp"
#include "trackers/CloudAnswer.hpp"

namespace courio {

struct TCourioEventTrackerRemoteChanges::TChange {
  const TJson* data = nullptr;  // the delivery object as received
  std::string invoiceText;      // external id without its "plinth-" prefix
  bool validInvoice = false;
  long long invoiceNum = -1;
  std::string driver;  // employee number without "PLINTH_", trimmed
  std::optional<TDateTime> assigned, dispatched, delivered;
};

namespace {

const char* const kClass = "TCourioEventTrackerRemoteChanges";
const char* const kTask = "[TCourioEventTrackerRemoteChanges.ThreadTask] ";

const char* const kAssignStatement = "UPDATE INVOICES SET Driver = %s, TimeToDrvr = %s WHERE InvoiceNum = %s";
const char* const kDriverLinkStatement =
    "UPDATE INVOICES SET DriverLink = MAX_ATTEND.DriverLink FROM ( SELECT MAX( ATTEND.InvoiceLink ) AS DriverLink "
    "FROM ATTEND WHERE EMPNUM = %s AND InDateTime > CAST( %s AS DATETIME ) AND ISNULL( OutDateTime, DATEADD( MINUTE, "
    "10, GETDATE() ) ) >= %s ) MAX_ATTEND WHERE INVOICENUM = %s";
const char* const kDispatchStatement = "UPDATE INVOICES Set TimeStampDriver = %s WHERE InvoiceNum = %s";
const char* const kDeliveryStatement = "UPDATE INVOICES Set TIMEATCUST = %s WHERE InvoiceNum = %s";

}  // namespace

TCourioEventTrackerRemoteChanges::TCourioEventTrackerRemoteChanges()
    : TCourioEventTracker({"RemoteChanges", kClass, "NAME='RemoteChanges'", 10, true}) {}

TCourioEventTrackerRemoteChanges::~TCourioEventTrackerRemoteChanges() { thread_.StopAndWait(); }

TJson TCourioEventTrackerRemoteChanges::NewRowValue(TDateTime now) {
  TJson value = TJson::object();
  value["LastCheck"] = DateTimeToIso(now - 1);
  value["LastSince"] = DateTimeToIso(DateOf(now));
  return value;
}

void TCourioEventTrackerRemoteChanges::LoadSettings() {
  TJson value;
  if (ReadSharedRow("NAME='WebService'", value)) url_ = JsonAsText(JsonGet(value, "Url"));
  if (ReadSharedRow("NAME='Account'", value)) {
    email_ = JsonAsText(JsonGet(value, "email_address"));
    password_ = JsonAsText(JsonGet(value, "password"));
  }
  if (ReadSharedRow("NAME='Store'", value)) {
    const TJson& id = JsonGet(value, "id");
    try {
      storeId_ = id.is_null() ? 0 : JsonAsInt(id);
    } catch (const std::exception&) {
      storeId_ = 0;
      Log(TLogLevel::Warning, Prefix("LoadSettings") + "The store id is not a number : %", {JsonDump(id)});
    }
  }
  TCourioEventTracker::LoadSettings();
}

bool TCourioEventTrackerRemoteChanges::Detect() {
  fetched_ = false;
  const std::string lastSince = JsonAsText(JsonGet(settings_.Value, "LastSince"));
  Log(TLogLevel::Info, std::string(kTask) + "Checking for remote changes since : %", {lastSince});

  ICourioAPIPtr api;
  IRestClientPtr rest;
  Assert(PlinthDI().CreateInstance(api), "Could not make ICourioAPI", "implCourioEventTrackerRemoteChanges",
         __LINE__);
  Assert(PlinthDI().CreateInstance(rest), "Could not make IRestClient", "implCourioEventTrackerRemoteChanges",
         __LINE__);
  rest->SetBaseURL(url_);
  rest->SetCredentials(email_, password_);
  api->SetRestClient(rest);

  TDateTime since = 0;
  if (!TryIsoToDateTime(lastSince, since))
    throw std::invalid_argument("\"LastSince\" is not a date-time : '" + lastSince + "'");

  std::string answer;
  const bool accepted = api->Delivery_Changes(storeId_, answer, since);
  if (answer.empty()) return false;  // no answer; the client logged why
  fetched_ = true;
  if (!accepted)
    throw std::runtime_error(
        FormatTemplate("The cloud answered with status % : %", {api->LastStatus(), ShortenForLog(answer)}));

  // The whole answer is checked before anything is applied, so a hostile
  // answer leaves the POS as it was.
  TJson doc;
  if (!TryParseJson(answer, doc)) throw std::invalid_argument("The answer is not JSON : " + ShortenForLog(answer));
  const TJson& deliveries = JsonGet(doc, "deliveries");
  if (!deliveries.is_array())
    throw std::invalid_argument("The answer has no \"deliveries\" array : " + ShortenForLog(answer));
  std::optional<TDateTime> newSince = CloudTimeMember(doc, "since", "The answer");

  std::vector<TChange> changes;
  for (size_t i = 0; i < deliveries.size(); ++i) {
    const TJson& d = deliveries[i];
    if (!d.is_object())
      throw std::invalid_argument(FormatTemplate("Delivery % of the answer is not an object : %",
                                                 {i, ShortenForLog(JsonDump(d))}));
    const std::string where = FormatTemplate("Delivery % of the answer", {i});
    TChange c;
    c.data = &d;
    if (JsonGet(d, "external_id").is_null()) continue;
    c.invoiceText = RemoveAllText(CloudIdMember(d, "external_id", where), "plinth-");
    if (c.invoiceText.empty()) continue;
    c.driver = Trim(RemoveAllText(CloudIdMember(d, "driver_external_id", where), "PLINTH_"));
    c.assigned = CloudTimeMember(d, "timestamp_assigned", where);
    c.dispatched = CloudTimeMember(d, "timestamp_dispatched", where);
    c.delivered = CloudTimeMember(d, "timestamp_delivered", where);
    c.validInvoice = TryParseInt64(c.invoiceText, c.invoiceNum);
    if (!c.validInvoice) c.invoiceNum = -1;
    changes.push_back(std::move(c));
  }

  Log(TLogLevel::Info, std::string(kTask) + "Found % changes", {deliveries.size()});
  for (const TChange& c : changes) {
    if (c.assigned && LaterThan(*c.assigned, since)) Apply(c, TTransition::Assigned, *c.assigned);
    if (c.dispatched && LaterThan(*c.dispatched, since)) Apply(c, TTransition::Dispatched, *c.dispatched);
    if (c.delivered && LaterThan(*c.delivered, since)) Apply(c, TTransition::Delivered, *c.delivered);
  }

  if (newSince) {
    settings_.Value["LastSince"] = DateTimeToIso(*newSince);
  } else {
    Log(TLogLevel::Warning, std::string(kTask) + "The answer has no \"since\" : LastSince stays %", {lastSince});
  }
  return true;
}

void TCourioEventTrackerRemoteChanges::Apply(const TChange& change, TTransition transition, TDateTime when) {
  TSQLRemoteEvent event;
  event.EventType = static_cast<int>(transition);
  event.InvoiceNum = change.invoiceNum;
  event.Timestamp = when;
  event.EventData = JsonDump(*change.data);

  const std::string whenText = FormatDateTime("yyyy-mm-dd hh:nn:ss", when);
  switch (transition) {
    case TTransition::Assigned:
      Log(TLogLevel::Info, std::string(kTask) + "Assigned : %", {whenText});
      Log(TLogLevel::Info, std::string(kTask) + "Driver   : %", {change.driver});
      break;
    case TTransition::Dispatched:
      Log(TLogLevel::Info, std::string(kTask) + "Dispatched : %", {whenText});
      break;
    case TTransition::Delivered:
      Log(TLogLevel::Info, std::string(kTask) + "Delivered  : %", {whenText});
      break;
  }

  try {
    RunStatements(change, transition, when);
    event.AppliedStatus = 1;
    event.AppliedTimestamp = Now();
  } catch (const std::exception& e) {
    LogError("ThreadTask", e.what());
  }
  store_->GetORM().Add(event);
}

void TCourioEventTrackerRemoteChanges::RunStatements(const TChange& change, TTransition transition,
                                                     TDateTime when) {
  if (!change.validInvoice)
    throw std::invalid_argument("The invoice number '" + change.invoiceText + "' is not valid");
  if (!db_) throw std::runtime_error("No POS database connection");
  const std::string invoice = std::to_string(change.invoiceNum);
  switch (transition) {
    case TTransition::Assigned: {
      const std::string driver = QuotedStr(change.driver);
      db_->ExecuteFmt(kAssignStatement, {driver, db_->DateTimeToSQL(when), invoice});
      db_->ExecuteFmt(kDriverLinkStatement, {driver, db_->DateToSQL(when), db_->DateTimeToSQL(when), invoice});
      break;
    }
    case TTransition::Dispatched:
      db_->ExecuteFmt(kDispatchStatement, {db_->DateTimeToSQL(when), invoice});
      break;
    case TTransition::Delivered:
      db_->ExecuteFmt(kDeliveryStatement, {db_->DateTimeToSQL(when), invoice});
      break;
  }
}

void TCourioEventTrackerRemoteChangesFactory::CreateInstance(IInterfacePtr& instance) {
  instance = std::static_pointer_cast<IInterface>(std::make_shared<TCourioEventTrackerRemoteChanges>());
}

void RegisterRemoteChangesTracker(IPlinthDI& di) {
  di.AddNamedFactory(ICourioEventTracker::IID, "RemoteChanges",
                     std::make_shared<TCourioEventTrackerRemoteChangesFactory>());
}

void UnregisterRemoteChangesTracker(IPlinthDI& di) {
  di.RemoveNamedFactory(ICourioEventTracker::IID, "RemoteChanges");
}

}  // namespace courio
