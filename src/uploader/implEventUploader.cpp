#include "uploader/implEventUploader.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>

#include "cloud/intfCourioAPI.hpp"
#include "common/util/Errors.hpp"
#include "common/util/Json.hpp"
#include "common/log/LogFacility.hpp"
#include "common/log/intfLogManager.hpp"
#include "common/rest/intfRestClient.hpp"

namespace courio {
namespace {

// The oldest pending row first, so events go out in the order they were recorded.
const char* const kOldestPending = "UploadStatus = 0 ORDER BY ID";
const char* const kTask = "[TCourioEventUploader.ThreadTask] ";

constexpr int kGapSeconds = 2;  // a pass needs more whole seconds than this
constexpr double kFirstDelaySeconds = 3;
constexpr double kMaxDelaySeconds = 300;

using TCall = std::function<bool(ICourioAPI& api, std::string& response)>;

long long ToMs(TDateTime t) { return std::llround(t * kMsPerDay); }

template <class TRow>
void MarkRow(TCourioORM& orm, TRow& row, int status) {
  row.UploadStatus = status;
  row.UploadTimestamp = Now();
  if (!orm.Update(row))
    Log(TLogLevel::Warning, std::string(kTask) + "% % no longer exists", {row.TableName(), row.ID});
}

// The event types' API calls.
TCall InvoiceCall(const TSQLInvoiceEvent& row, long long storeId) {
  switch (row.EventType) {
    case 1:
      return [&row](ICourioAPI& api, std::string& r) { return api.Order_Add(row.EventData, r); };
    case 2: {
      // The employee and the invoice come from the recorded POS row.
      TJson data;
      TryParseJson(row.EventData, data);
      std::string empNum = JsonAsText(JsonGet(data, "DriverEmpnum"));
      long long invoiceNum = JsonAsInt(JsonGet(data, "InvoiceNum"));
      TDateTime timestamp = row.Timestamp;
      return [=](ICourioAPI& api, std::string& r) {
        return api.Delivery_AssignDriverExternal(storeId, empNum, timestamp, invoiceNum, r);
      };
    }
    case 3:
    case 4: {
      long long newStatus = row.EventType == 3 ? 93 : 94;
      long long invoiceNum = row.InvoiceNum;
      return [=](ICourioAPI& api, std::string& r) { return api.Delivery_UpdateStatus(storeId, invoiceNum, newStatus, r); };
    }
    default:
      return nullptr;
  }
}

TCall DriverCall(const TSQLDriverEvent& row, long long storeId) {
  using TOp = bool (ICourioAPI::*)(long long, const std::string&, TDateTime, std::string&);
  TOp op = nullptr;
  switch (row.EventType) {
    case 1: op = &ICourioAPI::Driver_ClockIn; break;
    case 2: op = &ICourioAPI::Driver_LeaveStore; break;
    case 3: op = &ICourioAPI::Driver_Return; break;
    default: return nullptr;
  }
  std::string empNum = row.EmpNum;
  TDateTime timestamp = row.Timestamp;
  return [=](ICourioAPI& api, std::string& r) { return (api.*op)(storeId, empNum, timestamp, r); };
}

const char* DriverAnnouncement(int eventType) {
  switch (eventType) {
    case 1: return "Clocking Driver IN";
    case 2: return "Driver Leaving Store";
    default: return "Back at Store";
  }
}

std::string AnswerText(int status) {
  if (status == 0) return "the cloud gave no answer";
  std::string text = "the cloud answered " + std::to_string(status);
  if (status == 401 || status == 403) text += " (check the \"Account\" and \"Store\" settings)";
  return text;
}

}  // namespace

TCourioEventUploader::TCourioEventUploader() { thread_.ThreadName = "Uploader"; }

TCourioEventUploader::~TCourioEventUploader() { thread_.StopAndWait(); }

void TCourioEventUploader::Initialise() {
  store_.reset();
  bool found = PlinthDI().GetInstance(store_);
  Assert(found && store_, "Could not get Datastore instance", "implEventUploader", 112);
  lastRun_ = Now() - 1;
  thread_.OnWork = [this](void*, TPlinthThread&) { ThreadTask(); };
  LoadSettings();
}

void TCourioEventUploader::LoadSettings() {
  try {
    TCourioORM& orm = store_->GetORM();
    TSQLSettings row;
    if (orm.Retrieve("NAME = 'WebService'", {}, row)) url_ = JsonAsText(JsonGet(row.Value, "Url"));
    if (orm.Retrieve("NAME = 'Account'", {}, row)) {
      user_ = JsonAsText(JsonGet(row.Value, "email_address"));
      password_ = JsonAsText(JsonGet(row.Value, "password"));
    }
    if (orm.Retrieve("NAME = 'Store'", {}, row)) storeId_ = static_cast<int32_t>(JsonAsInt(JsonGet(row.Value, "id")));
    if (!orm.Retrieve("NAME = 'Uploader'", {}, uploaderRow_)) {
      uploaderRow_.ID = 0;
      uploaderRow_.Name = "Uploader";
      uploaderRow_.Value = TJson::object();
      uploaderRow_.Value["LastUpload"] = DateTimeToIso(Now() - 1);
      orm.Add(uploaderRow_);
    }
  } catch (const std::exception& e) {
    ManagerLogFmt("[TCourioEventUploader.LoadSettings] Error : %s", {e.what()});
  }
}

void TCourioEventUploader::Finalise() {
  thread_.StopAndWait();
  store_.reset();
}

void TCourioEventUploader::Start() { thread_.Start(); }

void TCourioEventUploader::Stop() { thread_.Stop(); }

std::shared_ptr<ICourioAPI> TCourioEventUploader::MakeAPI() const {
  IRestClientPtr client;
  if (!PlinthDI().CreateInstance(client)) throw std::runtime_error("Could not create RestClient");
  client->SetBaseURL(url_);
  client->SetContentType("application/json");
  client->SetCredentials(user_, password_);
  ICourioAPIPtr api;
  bool made = PlinthDI().CreateInstance(api);
  Assert(made, "Could not create CourioAPI", "implEventUploader", 210);
  api->SetRestClient(client);
  return api;
}

bool TCourioEventUploader::RefusedForTheRow(int status) {
  // 401 and 403 concern the account, not the row: the rows wait until the
  // credentials are put right.
  return status >= 400 && status < 500 && status != 401 && status != 403 && status != 408 && status != 429;
}

void TCourioEventUploader::Hold(const std::string& what, int status, int retryAfter) {
  retryAfter_ = retryAfter;
  errors_.Report(TLogLevel::Warning, kTask + std::string("Held : ") + what + " stays pending, " + AnswerText(status));
}

TCourioEventUploader::TStepResult TCourioEventUploader::InvoiceStep() {
  TCourioORM& orm = store_->GetORM();
  TSQLInvoiceEvent row;
  if (!orm.Retrieve(kOldestPending, {}, row)) return TStepResult::Idle;
  ManagerLogFmt("[TCourioEventUploader.ThreadTask] Found : %d", {row.ID});
  const std::string what = "invoice event " + std::to_string(row.ID);

  TCall call;
  try {
    call = InvoiceCall(row, storeId_);
  } catch (const std::exception& e) {
    Log(TLogLevel::Error, std::string(kTask) + "Rejected : % has unreadable EventData (%) : %",
        {what, e.what(), row.EventData});
    MarkRow(orm, row, kRejected);
    return TStepResult::Done;
  }
  if (!call) {
    Log(TLogLevel::Error, std::string(kTask) + "Rejected : % has the unknown EventType %", {what, row.EventType});
    MarkRow(orm, row, kRejected);
    return TStepResult::Done;
  }

  ICourioAPIPtr api = MakeAPI();
  std::string response;
  if (call(*api, response)) {
    if (row.EventType == 1)
      ManagerLogFmt("[TCourioEventUploader.ThreadTask] Response : %s", {response});
    else if (row.EventType == 2)
      Log(TLogLevel::Info, "[TCourioEventUploader.ThreadTask] Response  : %", {response});
    else
      Log(TLogLevel::Info, "[TCourioEventUploader.ThreadTask] Response : %", {response});
    MarkRow(orm, row, kSent);
    return TStepResult::Done;
  }
  int status = api->LastStatus();
  if (RefusedForTheRow(status)) {
    Log(TLogLevel::Error, std::string(kTask) + "Rejected : % (EventType %, InvoiceNum %), % : marked 2",
        {what, row.EventType, row.InvoiceNum, AnswerText(status)});
    MarkRow(orm, row, kRejected);
    return TStepResult::Done;
  }
  Hold(what, status, api->LastRetryAfter());
  return TStepResult::Held;
}

TCourioEventUploader::TStepResult TCourioEventUploader::DriverStep() {
  TCourioORM& orm = store_->GetORM();
  TSQLDriverEvent row;
  if (!orm.Retrieve(kOldestPending, {}, row)) return TStepResult::Idle;
  Log(TLogLevel::Info, "[TCourioEventUploader.ThreadTask] Driver Events Found : %", {row.ID});
  const std::string what = "driver event " + std::to_string(row.ID);

  TCall call = DriverCall(row, storeId_);
  if (!call) {
    Log(TLogLevel::Error, std::string(kTask) + "Rejected : % has the unknown EventType %", {what, row.EventType});
    MarkRow(orm, row, kRejected);
    return TStepResult::Done;
  }

  ICourioAPIPtr api = MakeAPI();
  Log(TLogLevel::Info, std::string(kTask) + DriverAnnouncement(row.EventType));
  std::string response;
  if (call(*api, response)) {
    Log(TLogLevel::Info, "[TCourioEventUploader.ThreadTask] Response : %", {response});
    MarkRow(orm, row, kSent);
    return TStepResult::Done;
  }
  int status = api->LastStatus();
  if (RefusedForTheRow(status)) {
    Log(TLogLevel::Error, std::string(kTask) + "Rejected : % (EventType %, EmpNum %), % : marked 2",
        {what, row.EventType, row.EmpNum, AnswerText(status)});
    MarkRow(orm, row, kRejected);
    return TStepResult::Done;
  }
  Hold(what, status, api->LastRetryAfter());
  return TStepResult::Held;
}

void TCourioEventUploader::ThreadTask() {
  TDateTime now = Now();
  if (SecondsBetween(lastRun_, now) <= kGapSeconds) return;
  if (!BackoffDue(now)) return;

  bool held = false;
  bool failed = false;
  try {
    if (!store_) throw std::runtime_error("No local store instance");
    // The cloud is one: when it does not take the invoice event, the driver
    // event waits as well.
    held = InvoiceStep() == TStepResult::Held;
    if (!held) held = DriverStep() == TStepResult::Held;
  } catch (const std::exception& e) {
    failed = true;
    errors_.Report(TLogLevel::Exception, kTask + std::string("Error : ") + e.what());
  } catch (...) {
    failed = true;
    errors_.Report(TLogLevel::Exception, kTask + std::string("Error : unknown error"));
  }
  lastRun_ = Now();
  if (held) {
    BackoffFailed(lastRun_);
  } else if (!failed) {
    failures_ = 0;
    errors_.Reset();
  }
}

bool TCourioEventUploader::BackoffDue(TDateTime now) const { return failures_ == 0 || ToMs(now) >= retryAtMs_; }

void TCourioEventUploader::BackoffFailed(TDateTime now) {
  ++failures_;
  delaySeconds_ = failures_ == 1 ? kFirstDelaySeconds : std::min(kMaxDelaySeconds, delaySeconds_ * 2);
  double wait = retryAfter_ >= 0 ? std::min<double>(retryAfter_, kMaxDelaySeconds) : delaySeconds_;
  retryAtMs_ = ToMs(now) + std::llround(wait * 1000);
}

void TCourioEventUploaderFactory::CreateInstance(IInterfacePtr& instance) {
  instance = std::static_pointer_cast<IInterface>(std::make_shared<TCourioEventUploader>());
}

void RegisterCourioEventUploader(IPlinthDI& di) {
  di.AddFactory(ICourioEventUploader::IID, std::make_shared<TCourioEventUploaderFactory>());
}

void UnregisterCourioEventUploader(IPlinthDI& di) { di.RemoveFactory(ICourioEventUploader::IID); }

}  // namespace courio
