// cloud-sim's plumbing: start and stop, the API routes behind recording,
// failure modes and Basic authentication, and its output lines.
#include <httplib.h>

#include <chrono>
#include <stdexcept>

#include "CloudSim.hpp"
#include "SimHttp.hpp"
#include "common/util/StrUtils.hpp"

namespace courio::sim {
namespace {

bool IsInternalHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

}  // namespace

TCloudSim::TCloudSim(TCloudSimOptions options) : options_(std::move(options)) {}

TCloudSim::~TCloudSim() { Stop(); }

int TCloudSim::Start() {
  server_ = std::make_unique<httplib::Server>();
  Routes();
  int port = options_.port;
  if (port == 0) {
    port = server_->bind_to_any_port(options_.bind);
    if (port <= 0) throw std::runtime_error("cannot bind " + options_.bind);
  } else if (!server_->bind_to_port(options_.bind, port)) {
    throw std::runtime_error("cannot bind " + options_.bind + ":" + std::to_string(port));
  }
  serverThread_ = std::thread([this] { server_->listen_after_bind(); });
  // httplib's stop() only ends a server that already runs, so Start returns
  // once it does (a matter of microseconds).
  for (int i = 0; i < 5000 && !server_->is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (options_.autoProgressSeconds > 0) progressThread_ = std::thread([this] { AutoProgressLoop(); });
  if (options_.driverCycleSeconds > 0) driverThread_ = std::thread([this] { DriverCycleLoop(); });
  return port;
}

void TCloudSim::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (server_) server_->stop();
  if (serverThread_.joinable()) serverThread_.join();
  if (progressThread_.joinable()) progressThread_.join();
  if (driverThread_.joinable()) driverThread_.join();
}

void TCloudSim::Say(const std::string& line) {
  if (!options_.out) return;
  std::lock_guard lock(outMutex_);
  std::fprintf(options_.out, "%s %s\n", FormatDateTime("hh:nn:ss", Now()).c_str(), line.c_str());
  std::fflush(options_.out);
}

void TCloudSim::Api(const char* method, const char* pattern, Handler handler) {
  auto wrapped = [this, handler](const Request& req, Response& res) {
    Record(req);
    if (ApplyFailure(req, res)) return;
    if (!Authorized(req)) {
      res.set_header("WWW-Authenticate", "Basic realm=\"Courio\"");
      ReplyError(res, 401, "authentication required");
      return;
    }
    (this->*handler)(req, res);
  };
  if (std::string_view(method) == "GET")
    server_->Get(pattern, wrapped);
  else
    server_->Post(pattern, wrapped);
}

void TCloudSim::Record(const Request& req) {
  TJson headers = TJson::object();
  for (const auto& [name, value] : req.headers) {
    if (IsInternalHeader(name)) continue;
    if (headers.contains(name))
      headers[name] = headers[name].get<std::string>() + ", " + value;
    else
      headers[name] = value;
  }
  size_t q = req.target.find('?');
  TJson entry = TJson::object();
  entry["method"] = req.method;
  entry["target"] = req.target;
  entry["path"] = req.target.substr(0, q);
  entry["query"] = q == std::string::npos ? "" : req.target.substr(q + 1);
  entry["version"] = req.version;
  entry["headers"] = std::move(headers);
  entry["body"] = req.body;
  std::lock_guard lock(mutex_);
  requests_.push_back(std::move(entry));
}

bool TCloudSim::Authorized(const Request& req) const {
  std::string header = req.get_header_value("Authorization");
  return header == "Basic " + Base64Encode(options_.user + ":" + options_.password);
}

void TCloudSim::Routes() {
  server_->set_exception_handler([](const Request&, Response& res, std::exception_ptr ep) {
    std::string what = "internal error";
    try {
      if (ep) std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    ReplyError(res, 500, what);
  });
  Api("GET", R"(/api/client/json/)", &TCloudSim::Clients);
  Api("GET", R"(/api/client/json/(-?\d+))", &TCloudSim::Client);
  Api("GET", R"(/api/store/json/)", &TCloudSim::Stores);
  Api("POST", R"(/api/store/json/(-?\d+))", &TCloudSim::StoreSetExternalId);
  Api("GET", R"(/api/driver/json/)", &TCloudSim::Drivers);
  Api("POST", R"(/api/driver/json)", &TCloudSim::DriverAdd);
  Api("POST", R"(/api/driver/updatepassword/(-?\d+))", &TCloudSim::DriverUpdatePassword);
  Api("POST", R"(/api/storedrivers/json/)", &TCloudSim::StoreDriversAdd);
  Api("POST", R"(/api/driver/(clockin|leavestore|atstore))", &TCloudSim::DriverEvent);
  Api("POST", R"(/api/delivery/json)", &TCloudSim::OrderAdd);
  Api("GET", R"(/api/delivery/changes/(-?\d+))", &TCloudSim::DeliveryChanges);
  Api("POST", R"(/api/delivery/assignexternal/(-?\d+))", &TCloudSim::DeliveryAssign);
  Api("POST", R"(/api/delivery/updatestatus/(-?\d+))", &TCloudSim::DeliveryStatus);
  Api("GET", R"(/api/driver/changes/(-?\d+))", &TCloudSim::DriverChanges);
  Api("GET", R"(/api/deliverypayment/changes/(-?\d+))", &TCloudSim::PaymentChanges);

  ControlRoutes();

  // Anything else: recorded and answered 404 (after the same checks).
  Api("GET", R"(/.*)", &TCloudSim::NotFound);
  Api("POST", R"(/.*)", &TCloudSim::NotFound);
}

}  // namespace courio::sim
