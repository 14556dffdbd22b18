#pragma once
// Folder cloud: the cloud API operations and the password hash.
// May use: common (rest for the transport). Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// ICourioAPI: the typed operations of the Courio cloud API. Each operation is
// one request through the IRestClient handed over with SetRestClient.
//
// Results: every operation returns whether the cloud accepted the call
// (POST: the transport's success, i.e. a response below 300; GET: a response
// below 300). `response` receives the response text whenever the transport
// reports success (for a GET also an error status's entity) and is left
// unchanged when the transport fails. Nothing raises for an HTTP failure and
// nothing retries.
//
// Thread-safety: none; one client per thread and unit of work.

#include <cstdint>
#include <memory>
#include <string>

#include "common/util/DateTime.hpp"
#include "common/di/intfInterface.hpp"
#include "common/rest/intfRestClient.hpp"

namespace courio {

class ICourioAPI : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{C24B6992-464B-4815-B82D-368A31772586}");

  virtual void SetRestClient(IRestClientPtr client) = 0;
  // The id of the first client the account sees, or -1.
  virtual int32_t Authenticate() = 0;
  virtual bool GetClient(long long clientId, std::string& response) = 0;
  virtual bool GetStores(std::string& response) = 0;
  virtual bool GetDrivers(std::string& response) = 0;
  virtual bool Driver_Add(const std::string& firstName, const std::string& lastName, const std::string& password,
                          const std::string& externalId, std::string& response) = 0;
  virtual bool Driver_UpdatePassword(long long storeId, const std::string& externalId, const std::string& password,
                                     std::string& response) = 0;
  virtual bool Order_Add(const std::string& orderDocument, std::string& response) = 0;
  virtual bool Delivery_Changes(long long storeId, std::string& response, TDateTime since) = 0;
  virtual bool Delivery_AssignDriverExternal(long long storeId, const std::string& empNum, TDateTime timestamp,
                                             long long invoiceNum, std::string& response) = 0;
  virtual bool Delivery_UpdateStatus(long long storeId, long long invoiceNum, long long newStatus,
                                     std::string& response) = 0;
  virtual bool StoreDrivers_Add(long long storeId, long long driverId, std::string& response) = 0;
  virtual bool Driver_Changes(long long storeId, std::string& response, TDateTime since) = 0;
  virtual bool Driver_ClockIn(long long storeId, const std::string& empNum, TDateTime timestamp,
                              std::string& response) = 0;
  virtual bool Driver_LeaveStore(long long storeId, const std::string& empNum, TDateTime timestamp,
                                 std::string& response) = 0;
  virtual bool Driver_Return(long long storeId, const std::string& empNum, TDateTime timestamp,
                             std::string& response) = 0;
  virtual bool DeliveryPayment_Changes(long long id, std::string& response, TDateTime since) = 0;
  virtual bool Store_SetExternalID(long long storeId, const std::string& externalId, std::string& response) = 0;

  // From the transport's last request: the status code (0 = no response)
  // and Retry-After in seconds (-1 = none). 0 / -1 without a transport.
  virtual int LastStatus() const = 0;
  virtual int LastRetryAfter() const = 0;
};
using ICourioAPIPtr = std::shared_ptr<ICourioAPI>;

class IPlinthDI;
// Adds / removes the factory that yields a new TCourioAPI per request.
void RegisterCourioAPI(IPlinthDI& di);
void UnregisterCourioAPI(IPlinthDI& di);

}  // namespace courio
