#include "CloudSim.hpp"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "common/util/StrUtils.hpp"

namespace courio::sim {
namespace {

using httplib::Request;
using httplib::Response;

void Reply(Response& res, const TJson& body, int status = 200) {
  res.status = status;
  res.set_content(JsonDump(body), "application/json");
}

void ReplyError(Response& res, int status, const std::string& message) {
  Reply(res, TJson{{"error", message}}, status);
}

TJson Iso(const std::optional<TDateTime>& t) { return t ? TJson(DateTimeToIso(*t)) : TJson(nullptr); }

// A JSON object body, or nullopt (and a 400 answer) when it is not one.
std::optional<TJson> ObjectBody(const Request& req, Response& res) {
  TJson doc;
  if (!TryParseJson(req.body, doc) || !doc.is_object()) {
    ReplyError(res, 400, "body is not a JSON object");
    return std::nullopt;
  }
  return doc;
}

// A time given as ISO text or as a day count; nullopt when absent or unreadable.
std::optional<TDateTime> TimeValue(const TJson& value) {
  if (value.is_number()) return value.get<double>();
  TDateTime t = 0;
  if (value.is_string() && TryIsoToDateTime(value.get<std::string>(), t)) return t;
  return std::nullopt;
}

TDateTime Later(const std::optional<TDateTime>& a, TDateTime b) { return a && *a > b ? *a : b; }

bool IsInternalHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

std::string MalformedBody(const std::string& kind, long long bytes) {
  if (kind == "html") return "<html><body><h1>502 Bad Gateway</h1></body></html>";
  if (kind == "utf8") return "[{\"id\":1,\"name\":\"bad \xC3\x28 \xFF\xFE text\"}]";
  if (kind == "deep") return std::string(100000, '[') + std::string(100000, ']');
  if (kind == "empty") return "";
  if (kind == "huge") {
    std::string body = "[\"";
    body.append(static_cast<size_t>(bytes > 0 ? bytes : 1), 'x');
    body += "\"]";
    return body;
  }
  return "{\"deliveries\":[{\"external_id\":\"plinth-1\",\"timestamp_assigned\":";  // truncated
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
}

void TCloudSim::Say(const std::string& line) {
  if (!options_.out) return;
  std::lock_guard lock(outMutex_);
  std::fprintf(options_.out, "%s %s\n", FormatDateTime("hh:nn:ss", Now()).c_str(), line.c_str());
  std::fflush(options_.out);
}

// ---------------------------------------------------------------- plumbing

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

bool TCloudSim::ApplyFailure(const Request&, Response& res) {
  std::unique_lock lock(mutex_);
  TFailure f = failure_;
  if (f.mode == "none" || f.mode == "nosince") return false;
  if (failure_.count > 0 && --failure_.count == 0) failure_ = TFailure{};
  if (f.mode == "slow") {
    // Answer normally after the delay; a stop or a mode change ends the wait.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(f.delayMs);
    wake_.wait_until(lock, until, [&] { return stopping_ || failure_.mode != "slow"; });
    return false;
  }
  lock.unlock();
  if (f.mode == "down") {
    // Promise a body and close the connection without sending it.
    res.status = 200;
    res.set_content_provider(
        64, "application/json", [](size_t, size_t, httplib::DataSink&) { return false; });
    return true;
  }
  if (f.mode == "malformed") {
    res.status = 200;
    if (f.kind == "huge_chunked") {
      auto left = std::make_shared<long long>(f.bytes);
      res.set_chunked_content_provider("application/json", [left](size_t, httplib::DataSink& sink) {
        if (*left <= 0) {
          sink.done();
          return true;
        }
        static const std::string kChunk(64 * 1024, 'x');
        size_t n = static_cast<size_t>(std::min<long long>(*left, static_cast<long long>(kChunk.size())));
        *left -= static_cast<long long>(n);
        return sink.write(kChunk.data(), n);
      });
    } else {
      res.set_content(MalformedBody(f.kind, f.bytes), "application/json");
    }
    return true;
  }
  // "4xx", "5xx" or "status": answer with the configured status.
  int status = f.status > 0 ? f.status : (f.mode == "4xx" ? 400 : 503);
  if (f.retryAfter >= 0) res.set_header("Retry-After", std::to_string(f.retryAfter));
  ReplyError(res, status, "simulated failure");
  return true;
}

bool TCloudSim::Authorized(const Request& req) const {
  std::string header = req.get_header_value("Authorization");
  return header == "Basic " + Base64Encode(options_.user + ":" + options_.password);
}

// ---------------------------------------------------------------- routes

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

  // Control API.
  server_->Get("/_sim/health", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    Reply(res, {{"status", "ok"},
                {"orders", orders_.size()},
                {"drivers", drivers_.size()},
                {"requests", requests_.size()},
                {"failure", failure_.mode}});
  });
  server_->Get("/_sim/requests", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    Reply(res, TJson(requests_));
  });
  server_->Delete("/_sim/requests", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    requests_.clear();
    Reply(res, {{"cleared", true}});
  });
  server_->Get("/_sim/orders", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    TJson list = TJson::array();
    for (const auto& o : orders_) list.push_back(OrderJson(o));
    Reply(res, list);
  });
  server_->Get("/_sim/drivers", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    TJson list = TJson::array();
    for (const auto& d : drivers_) list.push_back(DriverJson(d));
    Reply(res, list);
  });
  server_->Get("/_sim/events", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    Reply(res, TJson(events_));
  });
  server_->Post(R"(/_sim/orders/([^/]+)/(assign|dispatch|deliver))", [this](const Request& req, Response& res) {
    TJson body = TJson::object();
    if (!req.body.empty()) {
      auto parsed = ObjectBody(req, res);
      if (!parsed) return;
      body = *parsed;
    }
    std::lock_guard lock(mutex_);
    TOrder* o = FindOrderLocked(req.matches[1]);
    if (!o) return ReplyError(res, 404, "unknown delivery " + std::string(req.matches[1]));
    const TJson& ts = JsonGet(body, "timestamp");
    std::optional<TDateTime> when = TimeValue(ts);
    if (!ts.is_null() && !when) return ReplyError(res, 400, "timestamp is not a time");
    TDateTime t = when ? *when : NextDeliveryTimeLocked();
    std::string step = req.matches[2];
    if (step == "assign") {
      std::string driver = JsonAsText(JsonGet(body, "driver_external_id"));
      AssignLocked(*o, driver.empty() ? PickDriverLocked() : driver, t, "sim");
    } else if (step == "dispatch") {
      DispatchLocked(*o, t, "sim");
    } else {
      DeliverLocked(*o, t, "sim");
    }
    Reply(res, OrderJson(*o));
  });
  server_->Post(R"(/_sim/drivers/([^/]+)/status)", [this](const Request& req, Response& res) {
    auto body = ObjectBody(req, res);
    if (!body) return;
    const TJson& status = JsonGet(*body, "status");
    if (!status.is_number_integer()) return ReplyError(res, 400, "status must be an integer");
    const TJson& ts = JsonGet(*body, "timestamp");
    std::optional<TDateTime> when = TimeValue(ts);
    if (!ts.is_null() && !when) return ReplyError(res, 400, "timestamp is not a time");
    std::lock_guard lock(mutex_);
    TDriver& d = DriverForStatusLocked(req.matches[1]);
    d.status = status.get<long long>();
    d.statusTime = when ? *when : NextDriverTimeLocked();
    Say("driver " + d.externalId + " status " + std::to_string(d.status) + " at " + DateTimeToIso(*d.statusTime));
    Reply(res, DriverJson(d));
  });
  server_->Get("/_sim/failure", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    Reply(res, {{"mode", failure_.mode}, {"status", failure_.status}, {"delay_ms", failure_.delayMs},
                {"retry_after", failure_.retryAfter}, {"count", failure_.count}, {"kind", failure_.kind}});
  });
  server_->Post("/_sim/failure", [this](const Request& req, Response& res) {
    auto body = ObjectBody(req, res);
    if (!body) return;
    TFailure f;
    f.mode = JsonAsText(JsonGet(*body, "mode"));
    static const char* kModes[] = {"none", "down", "slow", "5xx", "4xx", "status", "malformed", "nosince"};
    bool known = false;
    for (const char* m : kModes) known = known || f.mode == m;
    if (!known) return ReplyError(res, 400, "unknown mode '" + f.mode + "'");
    try {
      if (!JsonGet(*body, "status").is_null()) f.status = static_cast<int>(JsonAsInt(JsonGet(*body, "status")));
      if (!JsonGet(*body, "delay_ms").is_null()) f.delayMs = static_cast<int>(JsonAsInt(JsonGet(*body, "delay_ms")));
      if (!JsonGet(*body, "retry_after").is_null())
        f.retryAfter = static_cast<int>(JsonAsInt(JsonGet(*body, "retry_after")));
      if (!JsonGet(*body, "count").is_null()) f.count = static_cast<int>(JsonAsInt(JsonGet(*body, "count")));
      if (!JsonGet(*body, "bytes").is_null()) f.bytes = JsonAsInt(JsonGet(*body, "bytes"));
    } catch (const std::exception& e) {
      return ReplyError(res, 400, e.what());
    }
    if (!JsonGet(*body, "kind").is_null()) f.kind = JsonAsText(JsonGet(*body, "kind"));
    if (f.count == 0) f.mode = "none";
    {
      std::lock_guard lock(mutex_);
      failure_ = f;
    }
    wake_.notify_all();
    Say("failure mode " + f.mode);
    Reply(res, {{"mode", f.mode}});
  });
  server_->Post("/_sim/reset", [this](const Request&, Response& res) {
    {
      std::lock_guard lock(mutex_);
      orders_.clear();
      drivers_.clear();
      requests_.clear();
      events_.clear();
      stores_.clear();
      failure_ = TFailure{};
      deliverySinceIssued_ = driverSinceIssued_ = 0;
      nextOrderId_ = nextDriverId_ = 1;
      driverTurn_ = 0;
    }
    wake_.notify_all();
    Reply(res, {{"reset", true}});
  });

  // Anything else: recorded and answered 404 (after the same checks).
  Api("GET", R"(/.*)", &TCloudSim::NotFound);
  Api("POST", R"(/.*)", &TCloudSim::NotFound);
}

// ---------------------------------------------------------------- API

void TCloudSim::NotFound(const Request& req, Response& res) { ReplyError(res, 404, "no such resource " + req.path); }

void TCloudSim::Clients(const Request&, Response& res) {
  Reply(res, TJson::array({TJson{{"id", 1}, {"name", "Courio cloud-sim"}, {"email_address", options_.user}}}));
}

void TCloudSim::Client(const Request& req, Response& res) {
  if (req.matches[1] != "1") return ReplyError(res, 404, "unknown client " + std::string(req.matches[1]));
  Reply(res, {{"id", 1}, {"name", "Courio cloud-sim"}, {"email_address", options_.user}});
}

void TCloudSim::Stores(const Request&, Response& res) {
  std::lock_guard lock(mutex_);
  TJson list = TJson::array();
  for (const auto& [id, ext] : stores_) list.push_back({{"id", id}, {"external_id", ext}});
  Reply(res, list);
}

void TCloudSim::StoreSetExternalId(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  long long id = std::stoll(req.matches[1]);
  std::lock_guard lock(mutex_);
  stores_[id] = JsonAsText(JsonGet(*body, "external_id"));
  Say("store " + std::to_string(id) + " external id " + stores_[id]);
  Reply(res, {{"id", id}, {"external_id", stores_[id]}});
}

void TCloudSim::Drivers(const Request&, Response& res) {
  std::lock_guard lock(mutex_);
  TJson list = TJson::array();
  for (const auto& d : drivers_) list.push_back(DriverJson(d));
  Reply(res, list);
}

void TCloudSim::DriverAdd(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string ext = JsonAsText(JsonGet(*body, "external_id"));
  std::lock_guard lock(mutex_);
  if (TDriver* known = ext.empty() ? nullptr : FindDriverLocked(ext)) {
    Say("driver " + ext + " added again (id " + std::to_string(known->id) + ")");
    return Reply(res, DriverJson(*known));
  }
  TDriver d;
  d.id = nextDriverId_++;
  d.firstName = JsonAsText(JsonGet(*body, "first_name"));
  d.lastName = JsonAsText(JsonGet(*body, "last_name"));
  d.externalId = ext;
  d.passwordHash = JsonAsText(JsonGet(*body, "password_hash"));
  const TJson& status = JsonGet(*body, "current_status");
  d.status = status.is_number() ? status.get<long long>() : -1;
  drivers_.push_back(d);
  Say("driver " + ext + " added: " + d.firstName + " " + d.lastName + " (id " + std::to_string(d.id) + ")");
  Reply(res, DriverJson(d));
}

void TCloudSim::DriverUpdatePassword(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string ext = JsonAsText(JsonGet(*body, "driver_external_id"));
  std::lock_guard lock(mutex_);
  TDriver* d = FindDriverLocked(ext);
  if (!d) return ReplyError(res, 404, "unknown driver " + ext);
  d->passwordHash = JsonAsText(JsonGet(*body, "password_hash"));
  Say("driver " + ext + " password updated for store " + std::string(req.matches[1]));
  Reply(res, {{"id", d->id}, {"external_id", d->externalId}, {"updated", true}});
}

void TCloudSim::StoreDriversAdd(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  const TJson& store = JsonGet(*body, "store_id");
  const TJson& driver = JsonGet(*body, "driver_id");
  if (!store.is_number_integer() || !driver.is_number_integer())
    return ReplyError(res, 400, "store_id and driver_id must be integers");
  std::lock_guard lock(mutex_);
  for (auto& d : drivers_) {
    if (d.id != driver.get<long long>()) continue;
    long long s = store.get<long long>();
    if (std::find(d.stores.begin(), d.stores.end(), s) == d.stores.end()) d.stores.push_back(s);
    stores_.try_emplace(s, "");
    Say("driver " + d.externalId + " attached to store " + std::to_string(s));
    return Reply(res, {{"store_id", s}, {"driver_id", d.id}});
  }
  ReplyError(res, 404, "unknown driver id " + std::to_string(driver.get<long long>()));
}

void TCloudSim::DriverEvent(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string kind = req.matches[1];
  const TJson& ext = JsonGet(*body, "driver_external_id");
  if (!ext.is_string()) return ReplyError(res, 400, "driver_external_id missing");
  std::optional<TDateTime> when = TimeValue(JsonGet(*body, "timestamp"));
  std::lock_guard lock(mutex_);
  bool known = FindDriverLocked(ext.get<std::string>()) != nullptr;
  TJson event = {{"event", kind},
                 {"store_id", JsonGet(*body, "store_id")},
                 {"driver_external_id", ext},
                 {"timestamp", JsonGet(*body, "timestamp")},
                 {"time", Iso(when)},
                 {"known_driver", known}};
  events_.push_back(event);
  Say("driver " + ext.get<std::string>() + " " + kind + (when ? " at " + DateTimeToIso(*when) : std::string()) +
      (known ? "" : " (driver unknown here)"));
  Reply(res, {{"recorded", true}, {"event", kind}, {"known_driver", known}});
}

void TCloudSim::OrderAdd(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  const TJson& ext = JsonGet(*body, "external_id");
  if (!ext.is_string() || ext.get<std::string>().empty()) return ReplyError(res, 400, "external_id missing");
  std::lock_guard lock(mutex_);
  if (TOrder* known = FindOrderLocked(ext.get<std::string>())) {
    Say("order " + known->externalId + " received again (id " + std::to_string(known->id) + ")");
    return Reply(res, OrderJson(*known));
  }
  TOrder o;
  o.id = nextOrderId_++;
  o.externalId = ext.get<std::string>();
  o.storeId = JsonAsText(JsonGet(*body, "store_id"));
  o.document = *body;
  orders_.push_back(o);
  Say("order " + o.externalId + " received (id " + std::to_string(o.id) + ", store " + o.storeId + ")");
  Reply(res, OrderJson(o));
}

void TCloudSim::DeliveryChanges(const Request& req, Response& res) {
  TDateTime since = 0;
  if (!TryIsoToDateTime(req.get_param_value("since"), since)) return ReplyError(res, 400, "since missing or invalid");
  std::string store = req.matches[1];
  std::lock_guard lock(mutex_);
  TJson list = TJson::array();
  TDateTime mark = since;
  for (const auto& o : orders_) {
    if (!o.storeId.empty() && o.storeId != store) continue;
    TDateTime latest = Later(o.assigned, Later(o.dispatched, Later(o.delivered, 0)));
    if (latest > mark) mark = latest;
    if (latest <= since) continue;
    list.push_back({{"id", o.id},
                    {"external_id", o.externalId},
                    {"driver_external_id", o.driver.empty() ? TJson(nullptr) : TJson(o.driver)},
                    {"timestamp_assigned", Iso(o.assigned)},
                    {"timestamp_dispatched", Iso(o.dispatched)},
                    {"timestamp_delivered", Iso(o.delivered)}});
  }
  if (mark > deliverySinceIssued_) deliverySinceIssued_ = mark;
  TJson answer = {{"deliveries", list}};
  if (failure_.mode != "nosince") answer["since"] = DateTimeToIso(mark);
  Reply(res, answer);
}

void TCloudSim::DeliveryAssign(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string ext = JsonAsText(JsonGet(*body, "external_id"));
  std::lock_guard lock(mutex_);
  TOrder* o = FindOrderLocked(ext);
  if (!o) return ReplyError(res, 404, "unknown delivery " + ext);
  o->posDriver = JsonAsText(JsonGet(*body, "driver_external_id"));
  o->posAssigned = TimeValue(JsonGet(*body, "timestamp"));
  Say("order " + ext + " handed to " + o->posDriver + " at the store");
  Reply(res, OrderJson(*o));
}

void TCloudSim::DeliveryStatus(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string ext = JsonAsText(JsonGet(*body, "external_id"));
  const TJson& status = JsonGet(*body, "new_status");
  if (!status.is_number_integer()) return ReplyError(res, 400, "new_status must be an integer");
  std::lock_guard lock(mutex_);
  TOrder* o = FindOrderLocked(ext);
  if (!o) return ReplyError(res, 404, "unknown delivery " + ext);
  o->status = status.get<long long>();
  Say("order " + ext + " status " + std::to_string(o->status));
  Reply(res, OrderJson(*o));
}

void TCloudSim::DriverChanges(const Request& req, Response& res) {
  TDateTime since = 0;
  if (!TryIsoToDateTime(req.get_param_value("since"), since)) return ReplyError(res, 400, "since missing or invalid");
  long long store = std::stoll(req.matches[1]);
  std::lock_guard lock(mutex_);
  TJson list = TJson::array();
  TDateTime mark = since;
  for (const auto& d : drivers_) {
    if (!d.stores.empty() && std::find(d.stores.begin(), d.stores.end(), store) == d.stores.end()) continue;
    if (!d.statusTime) continue;
    if (*d.statusTime > mark) mark = *d.statusTime;
    if (*d.statusTime <= since) continue;
    list.push_back({{"id", d.id},
                    {"external_id", d.externalId},
                    {"current_status", d.status},
                    {"timestamp_status", DateTimeToIso(*d.statusTime)}});
  }
  if (mark > driverSinceIssued_) driverSinceIssued_ = mark;
  TJson answer = {{"changes", list}};
  if (failure_.mode != "nosince") answer["since"] = DateTimeToIso(mark);
  Reply(res, answer);
}

void TCloudSim::PaymentChanges(const Request& req, Response& res) {
  TDateTime since = 0;
  if (!TryIsoToDateTime(req.get_param_value("since"), since)) return ReplyError(res, 400, "since missing or invalid");
  Reply(res, {{"payments", TJson::array()}, {"since", DateTimeToIso(since)}});
}

// ---------------------------------------------------------------- state

TJson TCloudSim::OrderJson(const TOrder& o) const {
  return {{"id", o.id},
          {"external_id", o.externalId},
          {"store_id", o.storeId},
          {"driver_external_id", o.driver.empty() ? TJson(nullptr) : TJson(o.driver)},
          {"timestamp_assigned", Iso(o.assigned)},
          {"timestamp_dispatched", Iso(o.dispatched)},
          {"timestamp_delivered", Iso(o.delivered)},
          {"status", o.status},
          {"pos_driver_external_id", o.posDriver.empty() ? TJson(nullptr) : TJson(o.posDriver)},
          {"pos_assigned", Iso(o.posAssigned)},
          {"document", o.document}};
}

TJson TCloudSim::DriverJson(const TDriver& d) const {
  return {{"id", d.id},
          {"first_name", d.firstName},
          {"last_name", d.lastName},
          {"external_id", d.externalId},
          {"current_status", d.status},
          {"timestamp_status", Iso(d.statusTime)},
          {"stores", d.stores}};
}

TCloudSim::TOrder* TCloudSim::FindOrderLocked(const std::string& externalId) {
  for (auto& o : orders_)
    if (o.externalId == externalId) return &o;
  return nullptr;
}

TCloudSim::TDriver* TCloudSim::FindDriverLocked(const std::string& externalId) {
  for (auto& d : drivers_)
    if (SameText(d.externalId, externalId)) return &d;
  return nullptr;
}

TCloudSim::TDriver& TCloudSim::DriverForStatusLocked(const std::string& externalId) {
  if (TDriver* d = FindDriverLocked(externalId)) return *d;
  TDriver d;
  d.id = nextDriverId_++;
  d.externalId = externalId;
  drivers_.push_back(d);
  return drivers_.back();
}

// Drivers that came from the point of sale first, in turn; "PLINTH_1" when
// the simulator knows none.
std::string TCloudSim::PickDriverLocked() {
  std::vector<const TDriver*> pool;
  for (const auto& d : drivers_)
    if (StartsWithText(d.externalId, "PLINTH_")) pool.push_back(&d);
  if (pool.empty())
    for (const auto& d : drivers_)
      if (!d.externalId.empty()) pool.push_back(&d);
  if (pool.empty()) return "PLINTH_1";
  return pool[static_cast<size_t>(driverTurn_++) % pool.size()]->externalId;
}

// Times the simulator stamps itself are strictly later than every "since" it
// has answered, so a change made in the same second as a poll is not lost.
TDateTime TCloudSim::NextDeliveryTimeLocked() const {
  TDateTime now = TruncToSecond(Now());
  TDateTime floor = IncSecond(deliverySinceIssued_, 1);
  return deliverySinceIssued_ > 0 && now < floor ? floor : now;
}

TDateTime TCloudSim::NextDriverTimeLocked() const {
  TDateTime now = TruncToSecond(Now());
  TDateTime floor = IncSecond(driverSinceIssued_, 1);
  return driverSinceIssued_ > 0 && now < floor ? floor : now;
}

void TCloudSim::AssignLocked(TOrder& o, const std::string& driver, TDateTime when, const char* how) {
  o.driver = driver;
  o.assigned = when;
  Say("order " + o.externalId + " assigned to " + driver + " at " + DateTimeToIso(when) + " (" + how + ")");
}

void TCloudSim::DispatchLocked(TOrder& o, TDateTime when, const char* how) {
  o.dispatched = when;
  Say("order " + o.externalId + " dispatched at " + DateTimeToIso(when) + " (" + how + ")");
}

void TCloudSim::DeliverLocked(TOrder& o, TDateTime when, const char* how) {
  o.delivered = when;
  Say("order " + o.externalId + " delivered at " + DateTimeToIso(when) + " (" + how + ")");
}

void TCloudSim::AutoProgressLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::seconds(options_.autoProgressSeconds), [&] { return stopping_; });
    if (stopping_) break;
    TDateTime when = NextDeliveryTimeLocked();
    for (auto& o : orders_) {
      if (o.status == 93 || o.status == 94) continue;  // turned collection or overrung
      if (!o.assigned)
        AssignLocked(o, PickDriverLocked(), when, "auto");
      else if (!o.dispatched)
        DispatchLocked(o, when, "auto");
      else if (!o.delivered)
        DeliverLocked(o, when, "auto");
    }
  }
}

}  // namespace courio::sim
