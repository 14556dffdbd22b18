#include "cloud/implCourioAPI.hpp"

#include <cmath>
#include <stdexcept>

#include "cloud/PasswordHash.hpp"
#include "common/util/Json.hpp"
#include "common/rest/URLPath.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/di/intfDI.hpp"

namespace courio {
namespace {

// A day count with at most 15 significant digits; a whole day is written
// without a fraction.
TJson DayCount(TDateTime value) {
  double r = Round15(value);
  if (std::isfinite(r) && r == std::floor(r) && std::fabs(r) < 1e15) return TJson(static_cast<long long>(r));
  return TJson(r);
}

std::string Tag(const char* op, const char* what) { return std::string("[TCourioAPI.") + op + "] " + what + " : %"; }

}  // namespace

std::string SinceParam(TDateTime since) {
  return "since=" + URLEncodeForm(FormatDateTime("yyyy-mm-dd hh:nn:ss", since));
}

IRestClient& TCourioAPI::Client() const {
  if (!client_) throw std::logic_error("[TCourioAPI] No REST client set");
  return *client_;
}

bool TCourioAPI::Get(const char* op, TLogLevel errorLevel, const std::string& resource, std::string& response,
                     const std::vector<std::string>& params, uint8_t paramKind) {
  std::string text;
  IRestClient& client = Client();
  if (!client.Get(resource, text, params, paramKind)) {
    Log(errorLevel, Tag(op, "Error"), {text});
    return false;
  }
  response = std::move(text);
  int status = client.LastStatus();
  return status > 0 && status < 300;
}

bool TCourioAPI::Post(const char* op, TLogLevel errorLevel, const std::string& resource, const std::string& body,
                      std::string& response) {
  std::string text;
  if (!Client().Post(resource, body, text, {}, 0)) {
    Log(errorLevel, Tag(op, "Error"), {text});
    return false;
  }
  response = std::move(text);
  return true;
}

int32_t TCourioAPI::Authenticate() {
  std::string response;
  IRestClient& client = Client();
  if (!client.Get("/api/client/json/", response, {}, 0)) return -1;
  Log(TLogLevel::Debug, "[TCourioAPI.Authenticate] Reponse : %", {response});
  int status = client.LastStatus();
  if (status <= 0 || status >= 300) return -1;
  TJson doc;
  if (!TryParseJson(response, doc) || JsonCount(doc) == 0) return -1;
  const TJson& first = doc.is_array() ? doc.front() : doc.begin().value();
  const TJson& id = JsonGet(first, "id");
  if (id.is_null()) throw std::runtime_error("[TCourioAPI.Authenticate] The client has no id");
  return static_cast<int32_t>(JsonAsInt(id));
}

bool TCourioAPI::GetClient(long long clientId, std::string& response) {
  return Get("GetClient", TLogLevel::Error, "/api/client/json/" + std::to_string(clientId), response);
}

bool TCourioAPI::GetStores(std::string& response) {
  return Get("GetStores", TLogLevel::Error, "/api/store/json/", response);
}

bool TCourioAPI::GetDrivers(std::string& response) {
  return Get("GetDrivers", TLogLevel::Error, "/api/driver/json/", response);
}

bool TCourioAPI::Driver_Add(const std::string& firstName, const std::string& lastName, const std::string& password,
                            const std::string& externalId, std::string& response) {
  TJson body = TJson::object();
  body["first_name"] = firstName;
  body["last_name"] = lastName;
  body["current_status"] = -1;
  body["password_hash"] = PasswordHash(password);
  body["external_id"] = externalId;
  return Post("Driver_Add", TLogLevel::Exception, "/api/driver/json", JsonDump(body), response);
}

bool TCourioAPI::Driver_UpdatePassword(long long storeId, const std::string& externalId, const std::string& password,
                                       std::string& response) {
  TJson body = TJson::object();
  body["driver_external_id"] = externalId;
  body["password_hash"] = PasswordHash(password);
  std::string text = JsonDump(body);
  Log(TLogLevel::Info, Tag("Driver_UpdatePassword", "Request"), {text});
  return Post("Driver_UpdatePassword", TLogLevel::Error, "/api/driver/updatepassword/" + std::to_string(storeId), text,
              response);
}

bool TCourioAPI::Order_Add(const std::string& orderDocument, std::string& response) {
  return Post("Order_Add", TLogLevel::Exception, "/api/delivery/json", orderDocument, response);
}

bool TCourioAPI::Delivery_Changes(long long storeId, std::string& response, TDateTime since) {
  return Get("Delivery_Changes", TLogLevel::Error, "/api/delivery/changes/" + std::to_string(storeId), response,
             {SinceParam(since)}, 1);
}

bool TCourioAPI::Delivery_AssignDriverExternal(long long storeId, const std::string& empNum, TDateTime timestamp,
                                               long long invoiceNum, std::string& response) {
  TJson body = TJson::object();
  body["external_id"] = "plinth-" + std::to_string(invoiceNum);
  body["driver_external_id"] = "PLINTH_" + empNum;
  body["timestamp"] = DayCount(timestamp);
  return Post("Delivery_AssignDriverExternal", TLogLevel::Error,
              "/api/delivery/assignexternal/" + std::to_string(storeId), JsonDump(body), response);
}

bool TCourioAPI::Delivery_UpdateStatus(long long storeId, long long invoiceNum, long long newStatus,
                                       std::string& response) {
  TJson body = TJson::object();
  body["external_id"] = "plinth-" + std::to_string(invoiceNum);
  body["new_status"] = newStatus;
  return Post("Delivery_UpdateStatus", TLogLevel::Error, "/api/delivery/updatestatus/" + std::to_string(storeId),
              JsonDump(body), response);
}

bool TCourioAPI::StoreDrivers_Add(long long storeId, long long driverId, std::string& response) {
  TJson body = TJson::object();
  body["store_id"] = storeId;
  body["driver_id"] = driverId;
  std::string text = JsonDump(body);
  Log(TLogLevel::Info, Tag("StoreDrivers_Add", "Request"), {text});
  return Post("StoreDrivers_Add", TLogLevel::Error, "/api/storedrivers/json/", text, response);
}

bool TCourioAPI::Driver_Changes(long long storeId, std::string& response, TDateTime since) {
  return Get("Driver_Changes", TLogLevel::Error, "/api/driver/changes/" + std::to_string(storeId), response,
             {SinceParam(since)}, 1);
}

bool TCourioAPI::DriverEvent(const char* op, const std::string& resource, long long storeId,
                             const std::string& empNum, TDateTime timestamp, std::string& response) {
  TJson body = TJson::object();
  body["store_id"] = storeId;
  body["driver_external_id"] = "PLINTH_" + empNum;
  body["timestamp"] = DayCount(timestamp);
  std::string text = JsonDump(body);
  Log(TLogLevel::Info, Tag(op, "Request"), {text});
  return Post(op, TLogLevel::Error, resource, text, response);
}

bool TCourioAPI::Driver_ClockIn(long long storeId, const std::string& empNum, TDateTime timestamp,
                                std::string& response) {
  return DriverEvent("Driver_ClockIn", "/api/driver/clockin", storeId, empNum, timestamp, response);
}

bool TCourioAPI::Driver_LeaveStore(long long storeId, const std::string& empNum, TDateTime timestamp,
                                   std::string& response) {
  return DriverEvent("Driver_LeaveStore", "/api/driver/leavestore", storeId, empNum, timestamp, response);
}

bool TCourioAPI::Driver_Return(long long storeId, const std::string& empNum, TDateTime timestamp,
                               std::string& response) {
  return DriverEvent("Driver_Return", "/api/driver/atstore", storeId, empNum, timestamp, response);
}

bool TCourioAPI::DeliveryPayment_Changes(long long id, std::string& response, TDateTime since) {
  return Get("DeliveryPayment_Changes", TLogLevel::Info, "/api/deliverypayment/changes/" + std::to_string(id),
             response, {SinceParam(since)}, 1);
}

bool TCourioAPI::Store_SetExternalID(long long storeId, const std::string& externalId, std::string& response) {
  TJson body = TJson::object();
  body["external_id"] = externalId;
  std::string text = JsonDump(body);
  Log(TLogLevel::Debug, Tag("Store_SetExternalID", "Request"), {text});
  return Post("Store_SetExternalID", TLogLevel::Error, "/api/store/json/" + std::to_string(storeId), text, response);
}

void RegisterCourioAPI(IPlinthDI& di) { di.AddFactory(ICourioAPI::IID, MakeFactory<TCourioAPI>()); }

void UnregisterCourioAPI(IPlinthDI& di) { di.RemoveFactory(ICourioAPI::IID); }

}  // namespace courio
