#pragma once
// TCloudSim: a small in-memory stand-in for the Courio cloud. It serves every
// path of the cloud API behind Basic authentication, keeps orders, drivers and
// store links, records every API request, moves deliveries through assigned /
// dispatched / delivered (on request or every few seconds), changes driver
// statuses, and can be told to fail. The control API lives under /_sim/ and
// needs no authentication.
//
// Thread-safety: requests run on the HTTP server's pool threads; all state is
// guarded by one mutex. Start and Stop are called by the owner's thread; Stop
// joins every thread the simulator started.

#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/util/DateTime.hpp"
#include "common/util/Json.hpp"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace courio::sim {

struct TCloudSimOptions {
  std::string bind = "127.0.0.1";
  int port = 0;  // 0: any free port
  std::string user;
  std::string password;
  int autoProgressSeconds = 0;  // 0: deliveries move only on request
  int driverCycleSeconds = 0;   // 0: driver statuses change only on request or by the POS's calls
  FILE* out = stdout;           // one line per received order / event
};

class TCloudSim {
 public:
  explicit TCloudSim(TCloudSimOptions options);
  ~TCloudSim();
  TCloudSim(const TCloudSim&) = delete;
  TCloudSim& operator=(const TCloudSim&) = delete;

  // Binds and starts serving; returns the port. Throws std::runtime_error
  // when the address cannot be bound.
  int Start();
  // Stops serving and joins all threads. Safe to call twice.
  void Stop();

 private:
  struct TOrder {
    long long id = 0;
    std::string externalId;
    std::string storeId;
    TJson document;
    std::string driver;
    std::optional<TDateTime> assigned, dispatched, delivered;
    long long status = 0;          // last "new_status" the point of sale sent
    std::vector<TJson> statusUpdates;  // every "new_status" received: status, store, time
    std::string posDriver;         // from assignexternal
    std::optional<TDateTime> posAssigned;
  };
  struct TDriver {
    long long id = 0;
    std::string firstName, lastName, externalId, passwordHash;
    long long status = -1;
    std::optional<TDateTime> statusTime;
    std::vector<long long> stores;
    std::vector<TJson> history;  // every status change: status, time, by
  };
  struct TFailure {
    std::string mode = "none";
    int status = 0;
    int delayMs = 0;
    int retryAfter = -1;
    int count = -1;  // requests left to fail; -1 = until changed
    std::string kind = "truncated";
    long long bytes = 17LL * 1024 * 1024;
  };
  using Handler = void (TCloudSim::*)(const httplib::Request&, httplib::Response&);

  void Routes();         // the API (CloudSim.cpp)
  void ControlRoutes();  // the control API under /_sim/ (ControlApi.cpp)
  void Api(const char* method, const char* pattern, Handler handler);
  void Record(const httplib::Request& req);
  bool ApplyFailure(const httplib::Request& req, httplib::Response& res);
  bool Authorized(const httplib::Request& req) const;
  void AutoProgressLoop();
  void DriverCycleLoop();
  void Say(const std::string& line);

  // API handlers (called with the request authorised and recorded).
  void Clients(const httplib::Request&, httplib::Response&);
  void Client(const httplib::Request&, httplib::Response&);
  void Stores(const httplib::Request&, httplib::Response&);
  void StoreSetExternalId(const httplib::Request&, httplib::Response&);
  void Drivers(const httplib::Request&, httplib::Response&);
  void DriverAdd(const httplib::Request&, httplib::Response&);
  void DriverUpdatePassword(const httplib::Request&, httplib::Response&);
  void StoreDriversAdd(const httplib::Request&, httplib::Response&);
  void DriverEvent(const httplib::Request&, httplib::Response&);
  void OrderAdd(const httplib::Request&, httplib::Response&);
  void DeliveryChanges(const httplib::Request&, httplib::Response&);
  void DeliveryAssign(const httplib::Request&, httplib::Response&);
  void DeliveryStatus(const httplib::Request&, httplib::Response&);
  void DriverChanges(const httplib::Request&, httplib::Response&);
  void PaymentChanges(const httplib::Request&, httplib::Response&);
  void NotFound(const httplib::Request&, httplib::Response&);

  // Helpers; the *Locked ones expect mutex_ held.
  TJson OrderJson(const TOrder& o) const;
  TJson DriverJson(const TDriver& d) const;
  TJson DriverControlJson(const TDriver& d) const;  // with its status history
  TOrder* FindOrderLocked(const std::string& externalId);
  TDriver* FindDriverLocked(const std::string& externalId);
  TDriver& DriverForStatusLocked(const std::string& externalId);
  std::string PickDriverLocked();
  TDateTime NextDeliveryTimeLocked() const;
  TDateTime NextDriverTimeLocked() const;
  void AssignLocked(TOrder& o, const std::string& driver, TDateTime when, const char* how);
  void DispatchLocked(TOrder& o, TDateTime when, const char* how);
  void DeliverLocked(TOrder& o, TDateTime when, const char* how);
  void SetStatusLocked(TDriver& d, long long status, TDateTime when, const std::string& how);

  TCloudSimOptions options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread serverThread_;
  std::thread progressThread_;
  std::thread driverThread_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // stop requests and failure-mode changes
  bool stopping_ = false;         // guarded by mutex_
  // All below guarded by mutex_.
  std::vector<TOrder> orders_;
  std::vector<TDriver> drivers_;
  std::vector<TJson> requests_;
  std::vector<TJson> events_;
  std::map<long long, std::string> stores_;
  TFailure failure_;
  TDateTime deliverySinceIssued_ = 0;  // latest "since" answered for deliveries
  TDateTime driverSinceIssued_ = 0;    // latest "since" answered for drivers
  long long nextOrderId_ = 1;
  long long nextDriverId_ = 1;
  int driverTurn_ = 0;

  std::mutex outMutex_;  // serialises output lines; taken after mutex_
};

}  // namespace courio::sim
