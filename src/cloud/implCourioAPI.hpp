#pragma once
// TCourioAPI: ICourioAPI over an IRestClient. Builds each operation's path,
// "since" query or compact JSON body (keys in the wire order), logs the
// operations' request and error lines and reports acceptance.
//
// Thread-safety: none; one instance per thread and unit of work.
// Failure: a missing transport raises std::logic_error; HTTP failures do not
// raise (see ICourioAPI).

#include <string>
#include <vector>

#include "cloud/intfCourioAPI.hpp"
#include "common/log/LogFacility.hpp"

namespace courio {

class TCourioAPI final : public ICourioAPI {
 public:
  void SetRestClient(IRestClientPtr client) override { client_ = std::move(client); }
  int32_t Authenticate() override;
  bool GetClient(long long clientId, std::string& response) override;
  bool GetStores(std::string& response) override;
  bool GetDrivers(std::string& response) override;
  bool Driver_Add(const std::string& firstName, const std::string& lastName, const std::string& password,
                  const std::string& externalId, std::string& response) override;
  bool Driver_UpdatePassword(long long storeId, const std::string& externalId, const std::string& password,
                             std::string& response) override;
  bool Order_Add(const std::string& orderDocument, std::string& response) override;
  bool Delivery_Changes(long long storeId, std::string& response, TDateTime since) override;
  bool Delivery_AssignDriverExternal(long long storeId, const std::string& empNum, TDateTime timestamp,
                                     long long invoiceNum, std::string& response) override;
  bool Delivery_UpdateStatus(long long storeId, long long invoiceNum, long long newStatus,
                             std::string& response) override;
  bool StoreDrivers_Add(long long storeId, long long driverId, std::string& response) override;
  bool Driver_Changes(long long storeId, std::string& response, TDateTime since) override;
  bool Driver_ClockIn(long long storeId, const std::string& empNum, TDateTime timestamp,
                      std::string& response) override;
  bool Driver_LeaveStore(long long storeId, const std::string& empNum, TDateTime timestamp,
                         std::string& response) override;
  bool Driver_Return(long long storeId, const std::string& empNum, TDateTime timestamp,
                     std::string& response) override;
  bool DeliveryPayment_Changes(long long id, std::string& response, TDateTime since) override;
  bool Store_SetExternalID(long long storeId, const std::string& externalId, std::string& response) override;

  int LastStatus() const override { return client_ ? client_->LastStatus() : 0; }
  int LastRetryAfter() const override { return client_ ? client_->LastRetryAfter() : -1; }

 private:
  IRestClient& Client() const;
  // GET; logs "[TCourioAPI.<op>] Error : %" at errorLevel when the transport fails.
  bool Get(const char* op, TLogLevel errorLevel, const std::string& resource, std::string& response,
           const std::vector<std::string>& params = {}, uint8_t paramKind = 0);
  bool Post(const char* op, TLogLevel errorLevel, const std::string& resource, const std::string& body,
            std::string& response);
  bool DriverEvent(const char* op, const std::string& resource, long long storeId, const std::string& empNum,
                   TDateTime timestamp, std::string& response);

  IRestClientPtr client_;
};

// The "since" query parameter: "since=" and the time as "yyyy-mm-dd hh:nn:ss",
// form-encoded.
std::string SinceParam(TDateTime since);

}  // namespace courio
