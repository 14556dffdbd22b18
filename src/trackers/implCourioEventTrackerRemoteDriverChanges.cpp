#include "trackers/implCourioEventTrackerRemoteDriverChanges.hpp"

#include <stdexcept>
#include <vector>

#include "cloud/intfCourioAPI.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/log/LogFacility.hpp"
#include "common/rest/intfRestClient.hpp"
#include "common/util/Errors.hpp"
#include "common/util/StrUtils.hpp"
#include "pos/intfPlinthAttend.hpp"
#include "trackers/CloudAnswer.hpp"

namespace courio {
namespace {

const char* const kUnit = "implCourioEventTrackerRemoteDriverChanges";
const char* const kTask = "[TCourioEventTrackerRemoteDriverChanges.ThreadTask] ";
const char* const kOnDeliveryStatement = "UPDATE attend SET OnDelivery = %d WHERE InvoiceLink = %d";

// "current_status" when it is one of the statuses that act (0, 2); -1 else.
long long ActingStatus(const TJson& value) {
  if (!value.is_number()) return -1;
  const double v = value.get<double>();
  return v == 0 ? 0 : v == 2 ? 2 : -1;
}

}  // namespace

TCourioEventTrackerRemoteDriverChanges::TCourioEventTrackerRemoteDriverChanges()
    : TCourioEventTracker(
          {"RemoteDriverChanges", "TCourioEventTrackerRemoteDriverChanges", "NAME='RemoteDriverChanges'", 10, true}) {}

TJson TCourioEventTrackerRemoteDriverChanges::NewRowValue(TDateTime now) {
  return {{"LastCheck", DateTimeToIso(now - 1)}, {"LastSince", DateTimeToIso(DateOf(now))}};
}

void TCourioEventTrackerRemoteDriverChanges::LoadSettings() {
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

bool TCourioEventTrackerRemoteDriverChanges::Detect() {
  fetched_ = false;
  const std::string lastSince = JsonAsText(JsonGet(settings_.Value, "LastSince"));
  Log(TLogLevel::Info, std::string(kTask) + "Checking for remote changes since : %", {lastSince});

  ICourioAPIPtr api;
  IRestClientPtr rest;
  IPlinthAttendPtr attend;
  Assert(PlinthDI().CreateInstance(api), "Could not make ICourioAPI", kUnit, __LINE__);
  Assert(PlinthDI().CreateInstance(rest), "Could not make IRestClient", kUnit, __LINE__);
  Assert(PlinthDI().CreateInstance(attend), "Could not make IPlinthAttend", kUnit, __LINE__);
  rest->SetBaseURL(url_);
  rest->SetCredentials(email_, password_);
  api->SetRestClient(rest);
  attend->Initialise(db_);  // reads the business-day start

  TDateTime since = 0;
  if (!TryIsoToDateTime(lastSince, since))
    throw std::invalid_argument("\"LastSince\" is not a date-time : '" + lastSince + "'");
  std::string answer;
  const bool accepted = api->Driver_Changes(storeId_, answer, since);
  if (answer.empty()) return false;  // no answer; the client logged why
  fetched_ = true;
  if (!accepted)
    throw std::runtime_error(
        FormatTemplate("The cloud answered with status % : %", {api->LastStatus(), ShortenForLog(answer)}));

  TJson doc;
  if (!TryParseJson(answer, doc)) return true;  // dropped without a message; "LastSince" stays
  // The whole answer is checked before anything is applied.
  const TJson& changes = JsonGet(doc, "changes");
  if (!changes.is_array())
    throw std::invalid_argument("The answer has no \"changes\" array : " + ShortenForLog(answer));
  const std::optional<TDateTime> newSince = CloudTimeMember(doc, "since", "The answer");
  std::vector<TChange> acting;
  for (size_t i = 0; i < changes.size(); ++i) {
    const TJson& c = changes[i];
    if (!c.is_object())
      throw std::invalid_argument(
          FormatTemplate("Change % of the answer is not an object : %", {i, ShortenForLog(JsonDump(c))}));
    const std::string externalId = JsonAsText(JsonGet(c, "external_id"));
    if (!StartsWithText(externalId, "PLINTH_")) continue;  // not a driver of the POS
    TChange change;
    change.index = i;
    change.empNum = RemoveAllText(externalId, "PLINTH_");
    change.status = ActingStatus(JsonGet(c, "current_status"));
    if (change.status == 0)  // the clock-in time
      change.statusTime = CloudTimeMember(c, "timestamp_status", FormatTemplate("Change % of the answer", {i}));
    if (change.status == 0 || change.status == 2) acting.push_back(std::move(change));
  }

  Log(TLogLevel::Info, std::string(kTask) + "Found % changes", {changes.size()});
  for (const TChange& change : acting) Apply(*attend, change);

  if (newSince) {
    settings_.Value["LastSince"] = DateTimeToIso(*newSince);
  } else {
    Log(TLogLevel::Warning, std::string(kTask) + "The answer has no \"since\" : LastSince stays %", {lastSince});
  }
  return true;
}

void TCourioEventTrackerRemoteDriverChanges::Apply(IPlinthAttend& attend, const TChange& change) {
  TJson row;
  attend.FetchEmployeeAttendJSON(change.empNum, row);
  if (change.status == 0) {
    if (attend.IsClockedOut(row)) {
      if (!change.statusTime)
        throw std::invalid_argument(FormatTemplate(
            "Change % of the answer has no \"timestamp_status\" to clock driver % in with", {change.index, change.empNum}));
      attend.ClockInEmployee(change.empNum, *change.statusTime, 0, 0);
      attend.FetchEmployeeAttendJSON(change.empNum, row);
    }
    if (row.size() == 1 && AttendFlag(row[0], "OnDelivery")) SetOnDelivery(row[0], change.empNum, false);
  } else if (row.size() == 1 && !AttendFlag(row[0], "OnDelivery")) {
    SetOnDelivery(row[0], change.empNum, true);
  }
}

void TCourioEventTrackerRemoteDriverChanges::SetOnDelivery(const TJson& row, const std::string& empNum,
                                                           bool onDelivery) {
  if (!db_) throw std::runtime_error("No point-of-sale connection");
  const long long link = JsonAsInt(JsonGet(row, "InvoiceLink"));
  Log(TLogLevel::Info,
      std::string(kTask) + (onDelivery ? "Setting Driver : % to OnDelivery" : "Setting Driver : % to not OnDelivery"),
      {empNum});
  db_->ExecuteFmt(kOnDeliveryStatement, {onDelivery ? 1 : 0, link});
}

void RegisterRemoteDriverChangesTracker(IPlinthDI& di) {
  di.AddNamedFactory(ICourioEventTracker::IID, "RemoteDriverChanges",
                     MakeFactory<TCourioEventTrackerRemoteDriverChanges>());
}

void UnregisterRemoteDriverChangesTracker(IPlinthDI& di) {
  di.RemoveNamedFactory(ICourioEventTracker::IID, "RemoteDriverChanges");
}

}  // namespace courio
